# How every Windows executable of the project is linked: the C and C++ runtimes inside, so that it
# imports system DLLs only and nothing placed beside it can be loaded in their stead.
function(windows_executable target)
  if(NOT WIN32)
    return()
  endif()
  if(MSVC)
    set_property(TARGET ${target} PROPERTY MSVC_RUNTIME_LIBRARY MultiThreaded)
  elseif(MINGW)
    target_link_options(${target} PRIVATE -static)
  endif()
endfunction()

# How the project's Windows executables are built: the C and C++ runtimes inside, so that they
# import system DLLs only and nothing placed beside them can be loaded in their stead; a hardened
# image (relocatable with high-entropy ASLR, no-execute, terminal-server aware) for Windows 6.0 and
# later, with a 1 MiB stack; and the same bytes from the same sources, whatever the time or the
# build folder.

if(MINGW)
  # No source or build path may end up in an object, whichever folder it is built in.
  add_compile_options(
    -ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)
elseif(MSVC)
  add_compile_options(/Brepro)
endif()

function(windows_executable target)
  if(MSVC)
    set_property(TARGET ${target} PROPERTY MSVC_RUNTIME_LIBRARY MultiThreaded)
    set(subsystem $<IF:$<BOOL:$<TARGET_PROPERTY:WIN32_EXECUTABLE>>,WINDOWS,CONSOLE>)
    target_link_options(${target} PRIVATE
      /DYNAMICBASE /HIGHENTROPYVA /NXCOMPAT /TSAWARE /STACK:1048576 /SUBSYSTEM:${subsystem},6.0
      /MANIFEST:NO /Brepro)
  elseif(MINGW)
    target_link_options(${target} PRIVATE
      -static -s
      -Wl,--dynamicbase,--high-entropy-va,--nxcompat,--tsaware
      -Wl,--major-subsystem-version,6,--minor-subsystem-version,0
      -Wl,--stack,1048576
      -Wl,--no-insert-timestamp)
  endif()
endfunction()

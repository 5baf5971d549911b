# Authenticode signing (SHA-256) of the binaries (the launcher, OrbedoThumbnails.dll and
# NotifyShell.dll) and of their package, when the cache variables ORBEDO_SIGNING_CERT and
# ORBEDO_SIGNING_KEY name a PEM certificate and its unencrypted PEM private key; without them
# nothing is signed. A wrong file stops the configure, before anything is built. A key that never
# leaves its token signs outside the build instead: ORBEDO_SIGNED_BINARIES names the folder that
# holds the three binaries of this build signed there, which the package then holds in place of
# the unsigned ones, for the package to be signed there too.
set(ORBEDO_SIGNING_CERT "" CACHE FILEPATH
  "PEM certificate that signs the binaries and their package")
set(ORBEDO_SIGNING_KEY "" CACHE FILEPATH "PEM private key of ORBEDO_SIGNING_CERT")
set(ORBEDO_SIGNED_BINARIES "" CACHE PATH
  "Folder of this build's three binaries, signed outside it, for the package to hold")
set(signed_binaries)

if(ORBEDO_SIGNED_BINARIES)
  if(ORBEDO_SIGNING_CERT OR ORBEDO_SIGNING_KEY)
    message(FATAL_ERROR "ORBEDO_SIGNED_BINARIES were signed outside the build: give them without "
      "ORBEDO_SIGNING_CERT and ORBEDO_SIGNING_KEY, and sign the package where they were signed.")
  endif()
  foreach(name Orbedo-Launcher.exe OrbedoThumbnails.dll NotifyShell.dll)
    if(NOT EXISTS ${ORBEDO_SIGNED_BINARIES}/${name})
      message(FATAL_ERROR "ORBEDO_SIGNED_BINARIES: ${ORBEDO_SIGNED_BINARIES}/${name} does not "
        "exist.")
    endif()
    list(APPEND signed_binaries ${ORBEDO_SIGNED_BINARIES}/${name})
  endforeach()
endif()

if(ORBEDO_SIGNING_CERT OR ORBEDO_SIGNING_KEY)
  if(NOT ORBEDO_SIGNING_CERT OR NOT ORBEDO_SIGNING_KEY)
    message(FATAL_ERROR "Signing needs both ORBEDO_SIGNING_CERT and ORBEDO_SIGNING_KEY.")
  endif()
  find_program(OPENSSL openssl REQUIRED)
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
  execute_process(COMMAND ${OPENSSL} x509 -noout -pubkey -in ${ORBEDO_SIGNING_CERT}
    OUTPUT_VARIABLE certificate_key RESULT_VARIABLE failed ERROR_QUIET)
  if(failed)
    message(FATAL_ERROR
      "ORBEDO_SIGNING_CERT: ${ORBEDO_SIGNING_CERT} cannot be read as a PEM certificate.")
  endif()
  # An encrypted key would ask for its pass phrase: the empty one fails at once instead.
  execute_process(COMMAND ${OPENSSL} pkey -pubout -passin pass: -in ${ORBEDO_SIGNING_KEY}
    OUTPUT_VARIABLE signing_key RESULT_VARIABLE failed ERROR_QUIET)
  if(failed)
    message(FATAL_ERROR
      "ORBEDO_SIGNING_KEY: ${ORBEDO_SIGNING_KEY} cannot be read as an unencrypted PEM private key.")
  endif()
  if(NOT signing_key STREQUAL certificate_key)
    message(FATAL_ERROR "ORBEDO_SIGNING_KEY: ${ORBEDO_SIGNING_KEY} is not the private key of the "
      "certificate ${ORBEDO_SIGNING_CERT}.")
  endif()
endif()

# Signs the file of `target` in place once it is linked, so that the signed file is the one the
# build folder holds and every later step takes.
function(sign_after_build target)
  if(ORBEDO_SIGNING_CERT)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${PROJECT_SOURCE_DIR}/tools/make-package sign --certificate ${ORBEDO_SIGNING_CERT}
        --key ${ORBEDO_SIGNING_KEY} $<TARGET_FILE:${target}>
      VERBATIM)
  endif()
endfunction()

# Authenticode signing of Halvotren.exe and its package, when the build is
# given something to sign with: a PEM certificate chain (signer first) and
# its key, or a PKCS#12 bundle (HALVOTREN_SIGN_PKCS12, cache or environment)
# whose password the signing step reads from HALVOTREN_SIGN_PASSWORD. Without
# either the build is unsigned, as it has always been. A signed build names
# its timestamp server (HALVOTREN_SIGN_TIMESTAMP), or says it wants none
# (HALVOTREN_SIGN_NO_TIMESTAMP): an untimestamped signature stops verifying
# when the certificate expires.
#
# Sets HALVOTREN_SIGN_COMMAND: the command to append a file to, or empty.
set(HALVOTREN_SIGN_CERT "" CACHE FILEPATH "PEM certificate chain, signer first, to sign the release with")
set(HALVOTREN_SIGN_KEY "" CACHE FILEPATH "PEM private key of that certificate")
set(HALVOTREN_SIGN_PKCS12 "$ENV{HALVOTREN_SIGN_PKCS12}" CACHE FILEPATH
    "PKCS#12 bundle to sign with instead (password in HALVOTREN_SIGN_PASSWORD)")
set(HALVOTREN_SIGN_TIMESTAMP "" CACHE STRING "URL of the timestamp server for the signatures")
option(HALVOTREN_SIGN_NO_TIMESTAMP "Sign without timestamps" OFF)

set(HALVOTREN_SIGN_COMMAND)
if(HALVOTREN_SIGN_CERT OR HALVOTREN_SIGN_KEY)
  if(NOT EXISTS "${HALVOTREN_SIGN_CERT}" OR NOT EXISTS "${HALVOTREN_SIGN_KEY}")
    message(FATAL_ERROR "Signing needs both HALVOTREN_SIGN_CERT and HALVOTREN_SIGN_KEY as existing files")
  endif()
  set(_credentials --cert ${HALVOTREN_SIGN_CERT} --key ${HALVOTREN_SIGN_KEY})
elseif(HALVOTREN_SIGN_PKCS12)
  if(NOT EXISTS "${HALVOTREN_SIGN_PKCS12}")
    message(FATAL_ERROR "HALVOTREN_SIGN_PKCS12 names no file: ${HALVOTREN_SIGN_PKCS12}")
  endif()
  set(_credentials --pkcs12 ${HALVOTREN_SIGN_PKCS12})
endif()
if(DEFINED _credentials)
  if(HALVOTREN_SIGN_TIMESTAMP AND NOT HALVOTREN_SIGN_NO_TIMESTAMP)
    list(APPEND _credentials --timestamp ${HALVOTREN_SIGN_TIMESTAMP})
  elseif(HALVOTREN_SIGN_NO_TIMESTAMP AND NOT HALVOTREN_SIGN_TIMESTAMP)
    list(APPEND _credentials --no-timestamp)
  else()
    message(FATAL_ERROR "A signed build needs HALVOTREN_SIGN_TIMESTAMP (a timestamp server's URL) "
                        "or HALVOTREN_SIGN_NO_TIMESTAMP=ON, not both")
  endif()
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
  set(HALVOTREN_SIGN_COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/sign.sh ${_credentials})
  message(STATUS "Halvotren.exe and its package will be signed")
endif()

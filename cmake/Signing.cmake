# Code signing. Programs that check their peers compile in the anchor certificate; every
# program is signed after linking with a key folder holding certificate.pem and key.pem.
#
# A release build names its keys: CORVANE_ANCHOR_CERTIFICATE (PEM) and
# CORVANE_SIGNING_KEYS (the team's key folder). Without them the build makes, once, a
# development anchor and a leaf for the team in <build>/signing.
set(CORVANE_SIGNING_SCRIPTS ${CMAKE_CURRENT_LIST_DIR})
find_program(OPENSSL_PROGRAM openssl REQUIRED)

set(CORVANE_ANCHOR_CERTIFICATE "" CACHE FILEPATH
  "Anchor certificate (PEM) the programs check their peers against; empty: make a development one")
set(CORVANE_SIGNING_KEYS "" CACHE PATH
  "Key folder (certificate.pem, key.pem) that signs the programs; empty: make a development one")

# corvane_make_signing_keys(<folder> SUBJECT <subject> [ISSUER <key folder>]
#                           [EXTENSIONS <extension>...])
# Makes a key folder unless it exists: an anchor without ISSUER, else a code-signing leaf
# issued by that folder's key. Extensions are given as `openssl req -addext` takes them.
function(corvane_make_signing_keys folder)
  cmake_parse_arguments(ARG "" "SUBJECT;ISSUER" "EXTENSIONS" ${ARGN})
  if(EXISTS ${folder}/certificate.pem)
    return()
  endif()
  set(profile -extensions anchor)
  if(ARG_ISSUER)
    set(profile -extensions leaf -CA ${ARG_ISSUER}/certificate.pem -CAkey ${ARG_ISSUER}/key.pem)
  endif()
  set(extensions "")
  foreach(extension IN LISTS ARG_EXTENSIONS)
    list(APPEND extensions -addext ${extension})
  endforeach()
  file(MAKE_DIRECTORY ${folder})
  execute_process(
    COMMAND ${OPENSSL_PROGRAM} req -x509 -new -config ${CORVANE_SIGNING_SCRIPTS}/signing-keys.cnf
            -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 36500
            -subj ${ARG_SUBJECT} ${profile} ${extensions}
            -keyout ${folder}/key.pem -out ${folder}/certificate.pem
    RESULT_VARIABLE failed OUTPUT_QUIET ERROR_VARIABLE error)
  if(failed)
    file(REMOVE ${folder}/certificate.pem ${folder}/key.pem)
    message(FATAL_ERROR "cannot make signing keys in ${folder}: ${error}")
  endif()
endfunction()

if(NOT CORVANE_ANCHOR_CERTIFICATE AND NOT CORVANE_SIGNING_KEYS)
  # Its key issues the tests' leaves too.
  set(CORVANE_DEVELOPMENT_ANCHOR ${CMAKE_BINARY_DIR}/signing/anchor)
  corvane_make_signing_keys(${CORVANE_DEVELOPMENT_ANCHOR}
    SUBJECT "/O=Corvane development/CN=Corvane development anchor")
  corvane_make_signing_keys(${CMAKE_BINARY_DIR}/signing/R8QZK2MX4T
    SUBJECT "/O=Corvane development/OU=R8QZK2MX4T/CN=Corvane development R8QZK2MX4T"
    ISSUER ${CORVANE_DEVELOPMENT_ANCHOR})
  set(CORVANE_ANCHOR ${CORVANE_DEVELOPMENT_ANCHOR}/certificate.pem)
  set(CORVANE_TEAM_KEYS ${CMAKE_BINARY_DIR}/signing/R8QZK2MX4T)
elseif(CORVANE_ANCHOR_CERTIFICATE AND CORVANE_SIGNING_KEYS)
  set(CORVANE_ANCHOR ${CORVANE_ANCHOR_CERTIFICATE})
  set(CORVANE_TEAM_KEYS ${CORVANE_SIGNING_KEYS})
else()
  message(FATAL_ERROR "give both CORVANE_ANCHOR_CERTIFICATE and CORVANE_SIGNING_KEYS, or neither")
endif()

# The anchor as the programs compile it in.
file(READ ${CORVANE_ANCHOR} CORVANE_ANCHOR_PEM)
set(CORVANE_ANCHOR_SOURCE ${CMAKE_BINARY_DIR}/generated/SigningAnchor.cpp)
file(CONFIGURE OUTPUT ${CORVANE_ANCHOR_SOURCE} @ONLY CONTENT [=[
// Generated from @CORVANE_ANCHOR@.
#include "Shared/SigningAnchor.h"

std::string_view signingAnchor() {
    return R"anchor(@CORVANE_ANCHOR_PEM@)anchor";
}
]=])

# Release builds for the package strip their programs, keeping the debug information in
# <build>/debug. Stripping comes before signing, so that the signature covers the bytes
# that ship.
option(CORVANE_STRIP "Strip the programs after linking, before they are signed" OFF)

# corvane_strip(<target>): strips <target>'s file after each link when CORVANE_STRIP is on.
function(corvane_strip target)
  if(CORVANE_STRIP)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CORVANE_SIGNING_SCRIPTS}/strip-program.sh $<TARGET_FILE:${target}>
              ${CMAKE_BINARY_DIR}/debug
      VERBATIM)
  endif()
endfunction()

# corvane_sign(<target> [KEYS <key folder>] [TEAM <team>] [ANCHORED])
# Signs <target>'s program after each link, with the team's keys unless KEYS names others.
# TEAM and ANCHORED state what the signature must give: a leaf of that team, a chain to
# the build's anchor; the build fails when the keys do not.
function(corvane_sign target)
  cmake_parse_arguments(ARG "ANCHORED" "KEYS;TEAM" "" ${ARGN})
  if(NOT ARG_KEYS)
    set(ARG_KEYS ${CORVANE_TEAM_KEYS})
  endif()
  set(checks "")
  if(ARG_TEAM)
    list(APPEND checks --team ${ARG_TEAM})
  endif()
  if(ARG_ANCHORED)
    list(APPEND checks --anchor ${CORVANE_ANCHOR})
  endif()
  corvane_strip(${target})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CORVANE_SIGNING_SCRIPTS}/sign-program.sh ${checks} $<TARGET_FILE:${target}> ${ARG_KEYS}
    VERBATIM)
endfunction()

# Turns the PEM file of an ECDSA P-256 public key into the C header that
# src/update/built_in_key.cpp includes, refusing anything else.
#
# Included: merovane_public_key_header(<pem file> <header file>).
# As a build step: cmake -DPEM=<pem file> -DHEADER=<header file> -P PublicKeyHeader.cmake

if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.25)
endif()

function(merovane_public_key_header pem header)
  file(READ ${pem} text)
  string(REPLACE "\r" "" text "${text}")
  if(NOT text MATCHES "^-----BEGIN PUBLIC KEY-----\n(MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE[A-Za-z0-9+/\n]+==)\n-----END PUBLIC KEY-----\n*$")
    message(FATAL_ERROR "${pem} is not a PEM public key of the curve P-256")
  endif()
  string(REPLACE "\n" "" base64 "${CMAKE_MATCH_1}")
  string(LENGTH "${base64}" length)
  if(NOT length EQUAL 124)
    message(FATAL_ERROR "${pem} is not a PEM public key of the curve P-256")
  endif()
  file(CONFIGURE OUTPUT ${header} CONTENT
"// Made by the build from @pem@.
#pragma once
#define MEROVANE_UPDATE_PUBLIC_KEY_PEM \"-----BEGIN PUBLIC KEY-----\\n@base64@\\n-----END PUBLIC KEY-----\\n\"
" @ONLY)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED PEM AND DEFINED HEADER)
  merovane_public_key_header(${PEM} ${HEADER})
endif()

# -DVARNO_PACKAGE_PUBLIC_KEY=path.pem embeds the vendor's public key in the updater, which
# then applies only packages signed with its private half. Without it the updater applies
# any package, as it always did.
set(VARNO_PACKAGE_PUBLIC_KEY "" CACHE FILEPATH "PEM public key whose packages alone the updater applies")

function(varno_embed_package_key target)
  if(NOT VARNO_PACKAGE_PUBLIC_KEY)
    return()
  endif()
  get_filename_component(key "${VARNO_PACKAGE_PUBLIC_KEY}" ABSOLUTE)
  if(NOT EXISTS "${key}")
    message(FATAL_ERROR "VARNO_PACKAGE_PUBLIC_KEY: ${key} does not exist")
  endif()
  file(READ "${key}" pem)
  # Only a public key: a private one handed here by mistake must never reach a program.
  if(pem MATCHES "PRIVATE KEY" OR NOT pem MATCHES "-----BEGIN PUBLIC KEY-----")
    message(FATAL_ERROR "VARNO_PACKAGE_PUBLIC_KEY: ${key} is not a PEM public key (BEGIN PUBLIC KEY)")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${key}")
  file(STRINGS "${key}" lines)
  set(literal "")
  foreach(line IN LISTS lines)
    string(APPEND literal "    \"${line}\\n\"\n")
  endforeach()
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/package_key")
  file(WRITE "${dir}/package_public_key.h.new"
       "// Generated from ${key} by the build; never edit, never commit.\n#pragma once\n\n"
       "namespace varno {\ninline constexpr char kPackagePublicKeyPem[] =\n${literal};\n}  // namespace varno\n")
  file(COPY_FILE "${dir}/package_public_key.h.new" "${dir}/package_public_key.h" ONLY_IF_DIFFERENT)
  target_include_directories(${target} PRIVATE "${dir}")
  target_compile_definitions(${target} PRIVATE VARNO_PACKAGE_KEY=1)
  message(STATUS "Varnolith_MAJ_Solo: applies only packages signed for ${key}")
endfunction()

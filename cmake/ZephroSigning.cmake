# Signing of the executables the helper accepts as clients.
#
# Each build tree generates, once, its own development anchor and team key with
# zephro-codesign (into ${ZEPHRO_SIGNING_DIR}; never committed) and a team
# certificate for team ${ZEPHRO_DEV_TEAM_ID} issued by that anchor. Executables
# passed to zephro_sign_executable() are signed with the team key after every
# link, so a fresh build's binaries pass the helper's check against
# ${ZEPHRO_DEV_ANCHOR_KEY}. The installed helper trusts the anchor installed at
# ${ZEPHRO_ANCHOR_KEY_INSTALL_PATH} (codesign::defaultAnchorKeyPath()).

set(ZEPHRO_SIGNING_DIR "${PROJECT_BINARY_DIR}/signing")
set(ZEPHRO_DEV_TEAM_ID "Q7K2M9T4XW")
set(ZEPHRO_DEV_ANCHOR_SECRET_KEY "${ZEPHRO_SIGNING_DIR}/anchor.key")
set(ZEPHRO_DEV_ANCHOR_KEY "${ZEPHRO_SIGNING_DIR}/anchor.pub")
set(ZEPHRO_DEV_TEAM_SECRET_KEY "${ZEPHRO_SIGNING_DIR}/team.key")
set(ZEPHRO_DEV_TEAM_KEY "${ZEPHRO_SIGNING_DIR}/team.pub")
set(ZEPHRO_DEV_TEAM_CERTIFICATE "${ZEPHRO_SIGNING_DIR}/team.cert")
set(ZEPHRO_ANCHOR_KEY_INSTALL_PATH "${CMAKE_INSTALL_FULL_DATADIR}/zephro/anchor.pub")

file(MAKE_DIRECTORY "${ZEPHRO_SIGNING_DIR}")
set(_zephro_signing_files
  "${ZEPHRO_DEV_ANCHOR_SECRET_KEY}" "${ZEPHRO_DEV_ANCHOR_KEY}"
  "${ZEPHRO_DEV_TEAM_SECRET_KEY}" "${ZEPHRO_DEV_TEAM_KEY}" "${ZEPHRO_DEV_TEAM_CERTIFICATE}")
# The files are made together (a lone missing one regenerates the whole set) and
# depend on nothing, so rebuilding zephro-codesign never replaces the keys.
add_custom_command(
  OUTPUT ${_zephro_signing_files}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${_zephro_signing_files}
  COMMAND $<TARGET_FILE:zephro-codesign> keygen anchor.key anchor.pub
  COMMAND $<TARGET_FILE:zephro-codesign> keygen team.key team.pub
  COMMAND $<TARGET_FILE:zephro-codesign> certify --anchor-key anchor.key
          --team-id ${ZEPHRO_DEV_TEAM_ID} --team-key team.pub team.cert
  WORKING_DIRECTORY "${ZEPHRO_SIGNING_DIR}"
  COMMENT "Generating the development signing anchor and team key"
  VERBATIM)
add_custom_target(zephro_signing_keys DEPENDS ${_zephro_signing_files})
add_dependencies(zephro_signing_keys zephro-codesign)

install(FILES "${ZEPHRO_DEV_ANCHOR_KEY}" DESTINATION "${CMAKE_INSTALL_DATADIR}/zephro"
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# zephro_sign_executable(<target> IDENTIFIER <identifier>)
# Signs the target's executable after each link with the development team key.
# The signature covers every byte of the file, so nothing may edit it later:
# install-time RPATH rewriting is turned off for the target (the project's
# libraries are static), and installing with --strip would break the signature.
function(zephro_sign_executable target)
  cmake_parse_arguments(ARG "" "IDENTIFIER" "" ${ARGN})
  if(NOT ARG_IDENTIFIER)
    message(FATAL_ERROR "zephro_sign_executable(${target}) needs IDENTIFIER")
  endif()
  add_dependencies(${target} zephro_signing_keys)
  # Relink (and so re-sign) when the keys are regenerated.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${ZEPHRO_DEV_TEAM_CERTIFICATE}")
  set_target_properties(${target} PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND zephro-codesign sign --key "${ZEPHRO_DEV_TEAM_SECRET_KEY}"
            --certificate "${ZEPHRO_DEV_TEAM_CERTIFICATE}" --identifier ${ARG_IDENTIFIER}
            $<TARGET_FILE:${target}>
    COMMENT "Signing ${target} as ${ARG_IDENTIFIER}"
    VERBATIM)
endfunction()

# zephro_use_dev_anchor(<target>)
# Gives the target the compile definition ZEPHRO_DEV_ANCHOR_KEY="<path of the
# build tree's anchor public key>" and makes sure the key exists before it runs.
function(zephro_use_dev_anchor target)
  add_dependencies(${target} zephro_signing_keys)
  target_compile_definitions(${target} PRIVATE ZEPHRO_DEV_ANCHOR_KEY="${ZEPHRO_DEV_ANCHOR_KEY}")
endfunction()

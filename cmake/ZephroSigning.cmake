# Signing of the executables the helper accepts as clients.
#
# Each build tree generates, once, its own development anchor and team key with
# zephro-codesign (into ${ZEPHRO_SIGNING_DIR}; never committed) and a team
# certificate for team ${ZEPHRO_DEV_TEAM_ID} issued by that anchor. Executables
# passed to zephro_sign_executable() are signed with the team key after every
# link, so a fresh build's binaries pass the helper's check against
# ${ZEPHRO_DEV_ANCHOR_KEY}. The installed helper trusts the anchor installed at
# ${ZEPHRO_ANCHOR_KEY_INSTALL_PATH} (codesign::defaultAnchorKeyPath()).
#
# A release build names its team key, that key's certificate and the anchor that
# issued it (ZEPHRO_RELEASE_*): the executables are signed with those, checked
# against that anchor right after signing, and that anchor is the one installed.
# The development keys are still made, for zephro-codesign's own use, but nothing
# shipped is signed with them.

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

set(ZEPHRO_RELEASE_TEAM_KEY "" CACHE FILEPATH
    "Secret team key that signs the executables instead of the build tree's development key")
set(ZEPHRO_RELEASE_TEAM_CERTIFICATE "" CACHE FILEPATH
    "Certificate of ZEPHRO_RELEASE_TEAM_KEY, issued by ZEPHRO_RELEASE_ANCHOR_KEY")
set(ZEPHRO_RELEASE_ANCHOR_KEY "" CACHE FILEPATH
    "Public anchor key installed for the helper instead of the build tree's development anchor")

set(_zephro_release_files
  ZEPHRO_RELEASE_TEAM_KEY ZEPHRO_RELEASE_TEAM_CERTIFICATE ZEPHRO_RELEASE_ANCHOR_KEY)
set(_zephro_release_given "")
foreach(setting IN LISTS _zephro_release_files)
  if(NOT "${${setting}}" STREQUAL "")
    list(APPEND _zephro_release_given ${setting})
  endif()
endforeach()
if(_zephro_release_given STREQUAL "")
  set(ZEPHRO_RELEASE_SIGNING OFF)
  set(ZEPHRO_SIGNING_TEAM_KEY "${ZEPHRO_DEV_TEAM_SECRET_KEY}")
  set(ZEPHRO_SIGNING_TEAM_CERTIFICATE "${ZEPHRO_DEV_TEAM_CERTIFICATE}")
  set(ZEPHRO_SIGNING_ANCHOR_KEY "${ZEPHRO_DEV_ANCHOR_KEY}")
else()
  # Half a release set would sign with one party's key and install another's anchor.
  foreach(setting IN LISTS _zephro_release_files)
    if("${${setting}}" STREQUAL "")
      message(FATAL_ERROR "Release signing needs ${setting} too (given: ${_zephro_release_given})")
    endif()
    # A relative path is taken from the source tree, where scripts/package runs cmake.
    get_filename_component(_zephro_${setting} "${${setting}}" ABSOLUTE)
    if(NOT EXISTS "${_zephro_${setting}}" OR IS_DIRECTORY "${_zephro_${setting}}")
      message(FATAL_ERROR "${setting}: no such file: ${${setting}}")
    endif()
  endforeach()
  # The tests start build-tree executables against the development anchor.
  if(ZEPHRO_BUILD_TESTS)
    message(FATAL_ERROR "Release signing is for package builds: configure with -DZEPHRO_BUILD_TESTS=OFF")
  endif()
  set(ZEPHRO_RELEASE_SIGNING ON)
  set(ZEPHRO_SIGNING_TEAM_KEY "${_zephro_ZEPHRO_RELEASE_TEAM_KEY}")
  set(ZEPHRO_SIGNING_TEAM_CERTIFICATE "${_zephro_ZEPHRO_RELEASE_TEAM_CERTIFICATE}")
  set(ZEPHRO_SIGNING_ANCHOR_KEY "${_zephro_ZEPHRO_RELEASE_ANCHOR_KEY}")
endif()

install(FILES "${ZEPHRO_SIGNING_ANCHOR_KEY}" DESTINATION "${CMAKE_INSTALL_DATADIR}/zephro"
        RENAME anchor.pub COMPONENT helper
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# zephro_sign_executable(<target> IDENTIFIER <identifier>)
# Signs the target's executable after each link with the team key (the development
# one, or the release one when given). The signature covers every byte of the file,
# so nothing may edit it later: install-time RPATH rewriting is turned off for the
# target (the project's libraries are static), and installing with --strip would
# break the signature; a build that wants stripped executables links with -s.
function(zephro_sign_executable target)
  cmake_parse_arguments(ARG "" "IDENTIFIER" "" ${ARGN})
  if(NOT ARG_IDENTIFIER)
    message(FATAL_ERROR "zephro_sign_executable(${target}) needs IDENTIFIER")
  endif()
  add_dependencies(${target} zephro_signing_keys zephro-codesign)
  # Relink (and so re-sign) when the keys are regenerated or replaced.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${ZEPHRO_SIGNING_TEAM_CERTIFICATE}")
  set_target_properties(${target} PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
  set(check_release "")
  if(ZEPHRO_RELEASE_SIGNING)
    # A key, certificate and anchor that do not belong together would ship an
    # application the installed helper refuses: fail the build instead.
    set(check_release
      COMMAND zephro-codesign verify --anchor "${ZEPHRO_SIGNING_ANCHOR_KEY}" --requirement
              "anchor apple generic and identifier \"${ARG_IDENTIFIER}\" and certificate leaf[subject.OU] = \"${ZEPHRO_DEV_TEAM_ID}\""
              $<TARGET_FILE:${target}>)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND zephro-codesign sign --key "${ZEPHRO_SIGNING_TEAM_KEY}"
            --certificate "${ZEPHRO_SIGNING_TEAM_CERTIFICATE}" --identifier ${ARG_IDENTIFIER}
            $<TARGET_FILE:${target}>
    ${check_release}
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

# Debian packages, made with CPack (scripts/package builds them):
#
#   zephro-helper  what runs as root or decides what may: the helper, its units, the unit
#                  installer and its polkit action, the anchor key, the machine profiles,
#                  zephro-smc and zephro-codesign. No Qt: the privileged side's libraries
#                  are the few the helper links, and an update of the desktop stack never
#                  touches it.
#   zephro         the tray application, zephroctl, their resources and desktop files;
#                  it depends on the helper of the same version, whose protocol it speaks.
#
# Included after every install() rule: CPack takes the components that exist by then.
# Executables are signed after linking and must never be stripped afterwards, so CPack
# strips nothing (scripts/package links with -s instead, before the signature).

# The two packages ship together; a helper-only tree makes none.
if(NOT ZEPHRO_BUILD_APP)
  return()
endif()

# Who answers for the packages: their Maintainer field and the changelog's trailer. A
# distributor building their own packages puts their name here.
set(ZEPHRO_PACKAGE_MAINTAINER "Zephro developers <developers@zephro.app>"
    CACHE STRING "Maintainer of the Debian packages, as \"Name <address>\"")
# Trees configured before there was a real default still hold the placeholder.
if(ZEPHRO_PACKAGE_MAINTAINER STREQUAL "Zephro maintainers <maintainers@zephro.example>")
  set_property(CACHE ZEPHRO_PACKAGE_MAINTAINER PROPERTY VALUE
               "Zephro developers <developers@zephro.app>")
endif()
# dpkg takes any text here; lintian and the changelog's parser want a name and one address.
if(NOT ZEPHRO_PACKAGE_MAINTAINER MATCHES "^[^<>@,]*[^<>@, ] <[^<>@ ]+@[^<>@ ]+\\.[^<>@ .]+>$")
  message(FATAL_ERROR "ZEPHRO_PACKAGE_MAINTAINER is \"${ZEPHRO_PACKAGE_MAINTAINER}\", not "
                      "\"Name <address>\"")
endif()
set(_zephro_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(_zephro_package_docs ${PROJECT_BINARY_DIR}/packaging)

# Compressed without a timestamp, so that rebuilding gives the same file. A further
# argument of @ONLY fills in @VARIABLE@ references first.
function(zephro_package_gzip source destination)
  if(ARGN STREQUAL "@ONLY")
    configure_file(${source} ${destination} @ONLY)
  else()
    configure_file(${source} ${destination} COPYONLY)
  endif()
  execute_process(COMMAND gzip -9nf ${destination} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${destination}")
  endif()
endfunction()

zephro_package_gzip(${_zephro_packaging}/changelog.in ${_zephro_package_docs}/changelog @ONLY)
foreach(page zephro zephroctl zephro-smc zephro-codesign)
  zephro_package_gzip(${_zephro_packaging}/man/${page}.1 ${_zephro_package_docs}/man/${page}.1)
endforeach()

# The copyright files are machine-readable (DEP-5). Beside Zephro's own code, the packages
# carry pieces of Debian packages compiled in: each gets a Files paragraph whose licence
# text is taken from that package's copyright file, so it is the text Debian ships. The
# patterns name the copies in the build tree, where the pieces were compiled from; the
# copyright holders follow the licence's Debian name.
function(zephro_embedded_notice var files package license debian_license)
  set(source /usr/share/doc/${package}/copyright)
  if(NOT EXISTS ${source})
    message(FATAL_ERROR "No Debian copyright file for ${package}, built into Zephro")
  endif()
  file(READ ${source} text)
  # The licence's own paragraph, or the Files paragraph that holds its text: "License:" and
  # the name, then at least one continuation line.
  string(REGEX MATCH "\nLicense:[ \t]*${debian_license}\n([ \t][^\n]*\n)+" body "\n${text}\n")
  if(body STREQUAL "")
    message(FATAL_ERROR "${source} has no text for the licence ${debian_license}")
  endif()
  string(REGEX REPLACE "^\nLicense:[^\n]*\n" "" body "${body}")
  list(JOIN ARGN "\n           " copyright)
  string(APPEND ${var} "\nFiles: ${files}\nCopyright: ${copyright}\nLicense: ${license}\n"
         "${body}Comment: Compiled in from Debian's ${package} package.\n")
  set(${var} "${${var}}" PARENT_SCOPE)
endfunction()

set(_zephro_json_notice "")
zephro_embedded_notice(_zephro_json_notice "nlohmann/*" nlohmann-json3-dev MIT Expat
  "2013-2022 Niels Lohmann"
  "2009 Florian Loitsch"
  "2008-2009 Bjoern Hoehrmann <bjoern@hoehrmann.de>")
set(ZEPHRO_EMBEDDED_NOTICES "${_zephro_json_notice}")
zephro_embedded_notice(ZEPHRO_EMBEDDED_NOTICES "app/shell/fonts/DejaVuSans*.ttf"
  fonts-dejavu-core Bitstream-Vera bitstream-vera
  "2003 Bitstream, Inc. Bitstream Vera is a trademark of Bitstream, Inc."
  "DejaVu changes are in the public domain.")
zephro_embedded_notice(ZEPHRO_EMBEDDED_NOTICES "app/ui/fonts/MaterialIcons-Regular.ttf"
  fonts-material-design-icons-iconfont Apache-2.0 Apache-2.0
  "2014-2020 Material Design Authors"
  "2019-2022 Jossef Harush")
zephro_embedded_notice(ZEPHRO_EMBEDDED_NOTICES "app/ui/fonts/materialdesignicons-webfont.ttf"
  fonts-materialdesignicons-webfont "OFL-1.1 and CC-BY-4.0" SIL-OPEN-FONT-LICENSE-and-CC-BY
  "2014 Austin Andrews (http://materialdesignicons.com/), with Reserved Font Name Material Design Icons"
  "2014 Google (http://www.google.com/design/)")
configure_file(${_zephro_packaging}/copyright.in ${_zephro_package_docs}/application/copyright
               @ONLY)
set(ZEPHRO_EMBEDDED_NOTICES "${_zephro_json_notice}")
configure_file(${_zephro_packaging}/copyright.in ${_zephro_package_docs}/helper/copyright @ONLY)

install(FILES ${_zephro_package_docs}/application/copyright ${_zephro_package_docs}/changelog.gz
              ${PROJECT_SOURCE_DIR}/docs/automation.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zephro COMPONENT application)
install(FILES ${_zephro_package_docs}/helper/copyright ${_zephro_package_docs}/changelog.gz
              ${PROJECT_SOURCE_DIR}/docs/hardware.md ${PROJECT_SOURCE_DIR}/docs/protocol.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zephro-helper COMPONENT helper)
install(FILES ${_zephro_packaging}/lintian-overrides.helper
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME zephro-helper
        COMPONENT helper)
install(FILES ${_zephro_packaging}/com.zephro.app.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT application)
install(FILES ${_zephro_package_docs}/man/zephro.1.gz ${_zephro_package_docs}/man/zephroctl.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT application)
install(FILES ${_zephro_package_docs}/man/zephro-smc.1.gz
              ${_zephro_package_docs}/man/zephro-codesign.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT helper)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zephro)
set(CPACK_PACKAGE_VENDOR "Zephro")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES OFF)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZEPHRO_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SOURCE zephro)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The units, the polkit action and the maintainer scripts name /usr paths: a package
# from a tree configured for another prefix would install a helper nothing can start.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/ZephroCPackChecks.cmake)
set(CPACK_ZEPHRO_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})

# Control files want the extended description wrapped (CPack does not wrap it); a line
# of a single "." is a paragraph break.
function(zephro_package_description var summary)
  list(JOIN ARGN "\n" text)
  set(${var} "${summary}\n${text}" PARENT_SCOPE)
endfunction()

if(ZEPHRO_RELEASE_SIGNING)
  set(_zephro_signing_note "")
else()
  set(_zephro_signing_note
    "."
    "development signing: these packages were built without release keys. The"
    "application is signed by a team key made in its own build tree, and the"
    "helper trusts only that tree's anchor, so neither works together with a"
    "package from another build.")
endif()

set(CPACK_DEBIAN_HELPER_PACKAGE_NAME zephro-helper)
set(CPACK_DEBIAN_HELPER_PACKAGE_SECTION admin)
zephro_package_description(CPACK_COMPONENT_HELPER_DESCRIPTION
  "privileged fan-control helper for Zephro"
  "The only part of Zephro that talks to the fan controller: the Apple SMC,"
  "through the applesmc or macsmc-hwmon driver. It runs as a socket-activated"
  "system service and serves only executables signed as the Zephro application."
  "."
  "Installing this package enables nothing: Zephro registers the helper when it"
  "first starts, once an administrator approves it in a polkit prompt."
  ${_zephro_signing_note})
set(CPACK_DEBIAN_HELPER_PACKAGE_DEPENDS "systemd")
set(CPACK_DEBIAN_HELPER_PACKAGE_CONTROL_EXTRA
  ${_zephro_packaging}/zephro-helper/postinst
  ${_zephro_packaging}/zephro-helper/prerm
  ${_zephro_packaging}/zephro-helper/postrm)

set(CPACK_DEBIAN_APPLICATION_PACKAGE_NAME zephro)
set(CPACK_DEBIAN_APPLICATION_PACKAGE_SECTION utils)
zephro_package_description(CPACK_COMPONENT_APPLICATION_DESCRIPTION
  "fan control from the desktop's tray"
  "Zephro puts a computer's cooling fans into the user's hands from the tray:"
  "automatic, manual (a slider per fan) or maximum speed, named presets, and"
  "live fan speed and temperature. Scripts and launchers drive it over the"
  "session bus or with zephroctl."
  ${_zephro_signing_note})
# Besides the libraries dpkg-shlibdeps finds, what the running application loads: the QML
# modules its windows import (the clips play through C++, not QtMultimedia's QML), the
# X11 platform plugin, the SVG image plugin for the About icon, GStreamer's playback, its
# MP4 and QuickTime demuxer and libav's H.264 and ProRes decoders for the onboarding
# clips, the emoji font presets may use, the CJK font the language menu and the Japanese,
# Chinese and Korean string tables are drawn in, and pkexec for registering the helper.
set(ZEPHRO_APPLICATION_RUNTIME_DEPENDS
  "zephro-helper (= ${PROJECT_VERSION})"
  pkexec
  qt6-qpa-plugins
  libqt6svg6
  qml6-module-qtqml
  qml6-module-qtqml-models
  qml6-module-qtqml-workerscript
  qml6-module-qtquick
  qml6-module-qtquick-controls
  qml6-module-qtquick-layouts
  qml6-module-qtquick-templates
  gstreamer1.0-plugins-base
  gstreamer1.0-plugins-good
  gstreamer1.0-libav
  fonts-noto-color-emoji
  fonts-noto-cjk)
list(JOIN ZEPHRO_APPLICATION_RUNTIME_DEPENDS ", " CPACK_DEBIAN_APPLICATION_PACKAGE_DEPENDS)

include(CPack)

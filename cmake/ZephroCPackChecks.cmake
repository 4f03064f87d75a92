# Read by cpack before it packages (CPACK_PROJECT_CONFIG_FILE).
if(NOT CPACK_ZEPHRO_INSTALL_PREFIX STREQUAL "/usr")
  message(FATAL_ERROR "Zephro's packages need a tree configured with -DCMAKE_INSTALL_PREFIX=/usr "
                      "(this one has ${CPACK_ZEPHRO_INSTALL_PREFIX}); scripts/package makes one.")
endif()

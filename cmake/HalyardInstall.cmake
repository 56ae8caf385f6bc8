# Installation: the driver library, the host contract headers, the tools
# with the model files beside them (the driver reads a model file from the
# directory of the executable that loads it), a CMake package giving
# Halyard::Halyard, and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(HALYARD_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/halyard)
set(HALYARD_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Halyard)
set(HALYARD_INSTALL_MODELDIR ${CMAKE_INSTALL_DATADIR}/halyard/models)

# Hosts include "host/CCaptureAPIEx.h": the include directory is the one
# above host/.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/host/ DESTINATION ${HALYARD_INSTALL_INCLUDEDIR}/host
  FILES_MATCHING PATTERN "*.h")

if(TARGET Halyard)
  target_include_directories(Halyard INTERFACE
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${HALYARD_INSTALL_INCLUDEDIR}>)
  install(TARGETS Halyard EXPORT HalyardTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(EXPORT HalyardTargets NAMESPACE Halyard:: FILE HalyardTargets.cmake
    DESTINATION ${HALYARD_INSTALL_CMAKEDIR})

  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/HalyardConfig.cmake.in
    ${PROJECT_BINARY_DIR}/cmake/HalyardConfig.cmake
    INSTALL_DESTINATION ${HALYARD_INSTALL_CMAKEDIR}
    PATH_VARS HALYARD_INSTALL_INCLUDEDIR HALYARD_INSTALL_MODELDIR)
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/HalyardConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/cmake/HalyardConfig.cmake ${PROJECT_BINARY_DIR}/cmake/HalyardConfigVersion.cmake
    DESTINATION ${HALYARD_INSTALL_CMAKEDIR})

  # The prefix is found from the .pc file's own place, so an installation
  # made with "cmake --install --prefix" can be moved.
  file(RELATIVE_PATH HALYARD_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  string(REGEX REPLACE "/$" "" HALYARD_PC_TO_PREFIX "${HALYARD_PC_TO_PREFIX}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/halyard.pc.in ${PROJECT_BINARY_DIR}/cmake/halyard.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/cmake/halyard.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

# The installed tools find libHalyard.so in ../lib beside them, wherever the
# prefix is moved.
file(RELATIVE_PATH HALYARD_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
foreach(tool halyard-record halyard-camsim)
  if(TARGET ${tool})
    set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/${HALYARD_BIN_TO_LIB}")
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The recorder as a service, with an example of its configuration.
if(TARGET halyard-record)
  # Made at install time, so that the unit names the prefix installed into.
  install(CODE "
    set(HALYARD_RECORD_PATH \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/halyard-record\")
    configure_file(\"${PROJECT_SOURCE_DIR}/tools/record/dist/halyard-record.service.in\"
      \"${PROJECT_BINARY_DIR}/halyard-record.service\" @ONLY)")
  install(FILES ${PROJECT_BINARY_DIR}/halyard-record.service DESTINATION lib/systemd/system)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/record/dist/record.example.toml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/halyard)
endif()

if(HALYARD_MODEL_FILES)
  install(FILES ${HALYARD_MODEL_FILES} DESTINATION ${CMAKE_INSTALL_BINDIR})
  # For hosts of their own, which copy them next to their executable.
  install(FILES ${HALYARD_MODEL_FILES} DESTINATION ${HALYARD_INSTALL_MODELDIR})
endif()

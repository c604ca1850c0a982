# The release package for host developers: both Windows executables, the
# README (use and protocol), the protocol's schemas, the documents of the
# simulated machine, example machine files and the sample host's source,
# zipped with the version in the name.
install(TARGETS lenticor lenticor-sim RUNTIME DESTINATION .)
install(FILES README.md DESTINATION .)
install(DIRECTORY docs/ DESTINATION docs FILES_MATCHING PATTERN "*.md" PATTERN "*.schema.json")
install(DIRECTORY examples/machines/ DESTINATION examples/machines FILES_MATCHING PATTERN "*.json")
install(FILES examples/host/sample_host.cpp examples/host/CMakeLists.txt examples/host/README.md
    DESTINATION examples/host)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME "${PROJECT_NAME}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_FILE_NAME "${PROJECT_NAME}-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/package")
include(CPack)

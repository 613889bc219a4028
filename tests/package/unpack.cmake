# Unpacks the release package for test_package: cmake -DZIP=<zip> -DDEST=<folder> -P unpack.cmake
if(NOT EXISTS "${ZIP}")
  message(FATAL_ERROR "${ZIP} is missing: scripts/package.sh builds it (scripts/test.sh runs it)")
endif()
file(REMOVE_RECURSE "${DEST}")
file(MAKE_DIRECTORY "${DEST}")
file(ARCHIVE_EXTRACT INPUT "${ZIP}" DESTINATION "${DEST}")
message(STATUS "unpacked ${ZIP} into ${DEST}")

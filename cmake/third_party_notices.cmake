# The licences of the third-party code compiled into the packed programs, into docs/third-party/
# of the package. The texts are copied when the package is made, unchanged, from the Debian
# packages that the build used (never kept in this repository): the header-only libraries of
# tendril-launch, and the mingw-w64 and GCC runtimes that every program and the launcher library
# link statically. docs/third-party/THIRD-PARTY-NOTICES.txt, ours, says which file is whose.
#
# Each entry: the name in the package | the Debian package | the file it installs.
set(TENDRIL_THIRD_PARTY_NOTICES
  "CLI11.txt|libcli11-dev|/usr/share/doc/libcli11-dev/copyright"
  "nlohmann-json.txt|nlohmann-json3-dev|/usr/share/doc/nlohmann-json3-dev/copyright"
  "mingw-w64.txt|mingw-w64-common|/usr/share/doc/mingw-w64-common/copyright"
  "gcc-runtime.txt|gcc-mingw-w64-base|/usr/share/doc/gcc-mingw-w64-base/copyright"
  "GPL-3.txt|base-files|/usr/share/common-licenses/GPL-3")

install(FILES ${PROJECT_SOURCE_DIR}/docs/third-party/THIRD-PARTY-NOTICES.txt
        DESTINATION docs/third-party)
foreach(notice IN LISTS TENDRIL_THIRD_PARTY_NOTICES)
  string(REPLACE "|" ";" fields "${notice}")
  list(GET fields 0 name)
  list(GET fields 1 package)
  list(GET fields 2 text)
  # A missing or empty text would ship a package without a licence it owes: stop here instead.
  if(NOT EXISTS "${text}")
    message(FATAL_ERROR "${text} is missing: the Debian package ${package} installs it "
                        "(scripts/setup.sh installs what the build needs)")
  endif()
  file(SIZE "${text}" size)
  if(size EQUAL 0)
    message(FATAL_ERROR "${text} (from ${package}) is empty")
  endif()
  install(FILES "${text}" DESTINATION docs/third-party RENAME "${name}")
endforeach()

# What `cmake --install` puts in place, and the Debian package CPack builds of it:
#   bin/                     qorclnt and the demo server qordemod
#   include/qorclnt/         the stack's headers in their layer folders (runtime/, errors/, socket/,
#                            connection/, client/), included as <qorclnt/client/IdTCPClient.hpp>, the
#                            form the tree itself uses
#   lib/libqorclient.a       the client stack in one archive: the objects of all four layers
#   lib/cmake/qorclnt/       the package configuration; find_package(qorclnt) gives qorclnt::client
#   lib/pkgconfig/qorclnt.pc the same for other build systems: pkg-config --cflags --libs qorclnt
#   share/man/man1/          the manual pages of qorclnt and qordemod
#   share/doc/qorclnt/       the guide to the client stack, the example programs and the licence
#                            (LICENSE; the Debian package adds it as its copyright file)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QOR_LAYER_FOLDERS runtime errors socket connection client)
set(QOR_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qorclnt)

# One archive holds every layer, so a consumer links one library and needs no link order.
add_library(qorclient STATIC $<TARGET_OBJECTS:qor_core> $<TARGET_OBJECTS:qor_transport>
                             $<TARGET_OBJECTS:qor_connection> $<TARGET_OBJECTS:qor_client>)
set_target_properties(qorclient PROPERTIES EXPORT_NAME client)
target_include_directories(qorclient INTERFACE $<BUILD_INTERFACE:${QOR_INCLUDE_ROOT}>
                                               $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_compile_features(qorclient INTERFACE cxx_std_20)
target_link_libraries(qorclient INTERFACE Threads::Threads OpenSSL::SSL OpenSSL::Crypto ${CMAKE_DL_LIBS})
# The name a project that adds this tree links, the same as the installed package's.
add_library(qorclnt::client ALIAS qorclient)

install(TARGETS qorclnt qordemod RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS qorclient EXPORT qorclntTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# Headers that only the stack's own sources include stay out.
install(DIRECTORY ${QOR_LAYER_FOLDERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qorclnt
        FILES_MATCHING PATTERN "*.hpp" PATTERN "IdStackLinuxPoll.hpp" EXCLUDE
        PATTERN "Sanitized.hpp" EXCLUDE)
install(EXPORT qorclntTargets NAMESPACE qorclnt:: DESTINATION ${QOR_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/qorclntConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/qorclntConfig.cmake INSTALL_DESTINATION ${QOR_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qorclntConfigVersion.cmake COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/qorclntConfig.cmake ${PROJECT_BINARY_DIR}/qorclntConfigVersion.cmake
        DESTINATION ${QOR_PACKAGE_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/qorclnt.1 ${PROJECT_SOURCE_DIR}/docs/qordemod.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The pkg-config file finds the prefix from its own place, so that it also serves an installation
# moved elsewhere (an unpacked package, a --prefix given to cmake --install).
file(RELATIVE_PATH QOR_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" QOR_PC_TO_PREFIX ${QOR_PC_TO_PREFIX})
list(TRANSFORM CMAKE_DL_LIBS PREPEND -l OUTPUT_VARIABLE QOR_PC_DL)
configure_file(${CMAKE_CURRENT_LIST_DIR}/qorclnt.pc.in ${PROJECT_BINARY_DIR}/qorclnt.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qorclnt.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES ${PROJECT_SOURCE_DIR}/docs/guide.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package: `cpack -G DEB` in the build folder. Not when another project adds this tree,
# whose own packaging is its business.
if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qorclnt)
set(CPACK_PACKAGE_VENDOR "The qorclnt developers")
set(CPACK_PACKAGE_CONTACT "The qorclnt developers <qorclnt@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "interactive console client for line-oriented TCP services")
# The long description; CPack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "qorclnt sends the lines typed at its prompt to a TCP server and prints the
reply lines; it connects on demand and retries a failed connect. The package
also holds qordemod, a small demo line server, and the client stack as a
static library with its headers, a CMake package (find_package(qorclnt),
target qorclnt::client) and a pkg-config file (qorclnt); its guide and example
programs are in /usr/share/doc/qorclnt/.")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The package's copyright file in Debian's machine-readable form, the licence text as its last field:
# each line indented by one space, an empty line written as " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE QOR_LICENSE_TEXT)
string(STRIP "${QOR_LICENSE_TEXT}" QOR_LICENSE_TEXT)
string(REPLACE "\n\n" "\n.\n" QOR_LICENSE_TEXT "${QOR_LICENSE_TEXT}")
string(REPLACE "\n" "\n " QOR_LICENSE_TEXT "${QOR_LICENSE_TEXT}")
file(WRITE ${PROJECT_BINARY_DIR}/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: qorclnt

Files: *
Copyright: 2026 the qorclnt developers
License: Expat
 ${QOR_LICENSE_TEXT}
")
install(FILES ${PROJECT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The programs need the C and C++ runtime libraries, OpenSSL's libssl3 and libedit; dpkg-shlibdeps
# finds their versions.
find_program(QOR_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(QOR_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12), libssl3 (>= 3.0.0), libedit2 (>= 3.1)")
endif()
include(CPack)

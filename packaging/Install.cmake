# Installing lays out a suite folder under the prefix:
#
#   cmake --install build --prefix /opt/kiv
#     /opt/kiv/exe/Kiv2700P1, /opt/kiv/exe/kiv2700, empty /opt/kiv/mdb and /opt/kiv/medi
#
# The programs find the suite folder from their own real location (exe/ less
# "/exe"), through any symbolic link, so /usr/bin/kiv2700 -> /opt/kiv/exe/kiv2700
# works.
#
# The Debian package (cpack) keeps that layout where Debian wants programs and
# data: the suite folder is /usr/lib/kiv, and its mdb/ and medi/ are links to
# /var/lib/kiv/mdb and /var/lib/kiv/medi, which the package's postinst makes
# for the group kiv. /opt is left to the administrator (lintian rejects
# packages that install there).
#
# Components: "programs" (both), "folders" (the empty mdb/ and medi/ of a
# plain install only), "debian" (the package only: links, manual, copyright,
# changelog).

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                                WORLD_READ WORLD_EXECUTE)

install(TARGETS kiv2700 RUNTIME DESTINATION exe COMPONENT programs)
if(TARGET Kiv2700P1)
  install(TARGETS Kiv2700P1 RUNTIME DESTINATION exe COMPONENT programs)
endif()
install(DIRECTORY DESTINATION mdb COMPONENT folders)
install(DIRECTORY DESTINATION medi COMPONENT folders)

set(KIV_PACKAGE_NAME kiv2700)
set(KIV_PACKAGE_SUITE /usr/lib/kiv)
set(KIV_PACKAGE_DATA /var/lib/kiv)
set(KIV_PACKAGE_MAINTAINER "Kiv2700P1 maintainers <maintainers@kiv2700.example.org>")
set(KIV_PACKAGE_DOC /usr/share/doc/${KIV_PACKAGE_NAME})
set(KIV_STAGE ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${KIV_STAGE})

# Links as the installed system has them. Within /usr relative, from /usr
# to /var absolute, as Debian's policy has it.
file(CREATE_LINK ../lib/kiv/exe/kiv2700 ${KIV_STAGE}/kiv2700 SYMBOLIC)
file(CREATE_LINK ${KIV_PACKAGE_DATA}/mdb ${KIV_STAGE}/mdb SYMBOLIC)
file(CREATE_LINK ${KIV_PACKAGE_DATA}/medi ${KIV_STAGE}/medi SYMBOLIC)

# The changelog's date is the build's (SOURCE_DATE_EPOCH when set, for a
# reproducible package).
string(TIMESTAMP KIV_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${KIV_STAGE}/changelog @ONLY)
foreach(script postinst postrm)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${script}.in ${KIV_STAGE}/${script} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                                  WORLD_EXECUTE)
endforeach()

# Debian wants the manual and the changelog compressed with gzip -9n (no
# name, no time stamp).
find_program(KIV_GZIP gzip REQUIRED)
add_custom_command(
  OUTPUT ${KIV_STAGE}/kiv2700.1.gz
  COMMAND ${KIV_GZIP} -9n -c ${PROJECT_SOURCE_DIR}/doc/kiv2700.1 > ${KIV_STAGE}/kiv2700.1.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/doc/kiv2700.1
  VERBATIM)
add_custom_command(
  OUTPUT ${KIV_STAGE}/changelog.gz
  COMMAND ${KIV_GZIP} -9n -c ${KIV_STAGE}/changelog > ${KIV_STAGE}/changelog.gz
  DEPENDS ${KIV_STAGE}/changelog
  VERBATIM)
add_custom_target(kiv_package_files ALL DEPENDS ${KIV_STAGE}/kiv2700.1.gz ${KIV_STAGE}/changelog.gz)

install(FILES ${KIV_STAGE}/kiv2700 DESTINATION /usr/bin COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${KIV_STAGE}/mdb ${KIV_STAGE}/medi DESTINATION ${KIV_PACKAGE_SUITE} COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${KIV_STAGE}/kiv2700.1.gz DESTINATION /usr/share/man/man1 COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${KIV_STAGE}/changelog.gz DESTINATION ${KIV_PACKAGE_DOC}
        COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${KIV_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KIV_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "posts school fees collected by the postal service")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
     "Kiv2700P1 is the program of a school-fee suite with which a school office"
     "posts the fees that the postal service has collected for its students. It"
     "checks the postal service's collection file against its control totals,"
     "marks the students' payment records paid or records why a transfer failed,"
     "and logs every line it could not post."
     ""
     "The package holds the window program Kiv2700P1, the headless tool kiv2700"
     "and its manual, and makes a group kiv for the clerks who may post.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${KIV_PACKAGE_SUITE})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL programs debian)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_NAME ${KIV_PACKAGE_NAME})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beyond the libraries: the Traditional Chinese font, Qt's platform plugins
# (without them the window cannot open) and addgroup for the postinst.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, fonts-noto-cjk, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${KIV_STAGE}/postinst ${KIV_STAGE}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/package)
include(CPack)

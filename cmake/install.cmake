# `cmake --install build/release [--prefix DIR]` (or the `install` target):
# the program with its render driver and the sample actor in one private
# folder, lib/skinwork (the engine finds its drivers beside the program),
# with links to skinwork and actortool in bin; the desktop entry, the icon
# and the MIME type that registers Skinwork for ".act" files.
include(GNUInstallDirs)
set(cv_install_home ${CMAKE_INSTALL_LIBDIR}/skinwork)
file(RELATIVE_PATH cv_bin_to_home /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${cv_install_home})

set(cv_installed actortool)
if(TARGET skinwork)
  list(APPEND cv_installed skinwork)
endif()
install(TARGETS ${cv_installed} RUNTIME DESTINATION ${cv_install_home})
install(TARGETS SoftRnd LIBRARY DESTINATION ${cv_install_home})
install(FILES ${PROJECT_BINARY_DIR}/bin/sample.act DESTINATION ${cv_install_home})
install(FILES app/desktop/skinwork.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES app/desktop/skinwork-actor.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES app/desktop/skinwork.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

foreach(program ${cv_installed})
  install(CODE "
    set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(REMOVE \"\${link}\")
    file(CREATE_LINK \"${cv_bin_to_home}/${program}\" \"\${link}\" SYMBOLIC)
    message(STATUS \"Link: \${link} -> ${cv_bin_to_home}/${program}\")")
endforeach()

# Installed into a live system (no DESTDIR staging), the desktop's MIME and
# application caches are brought up to date so the file manager opens ".act"
# files with Skinwork at once. Packagers leave this to their triggers.
set(cv_data "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}")
install(CODE "
  if(\"\$ENV{DESTDIR}\" STREQUAL \"\")
    find_program(cv_update_mime update-mime-database)
    if(cv_update_mime)
      execute_process(COMMAND \${cv_update_mime} \"${cv_data}/mime\")
    endif()
    find_program(cv_update_desktop update-desktop-database)
    if(cv_update_desktop)
      execute_process(COMMAND \${cv_update_desktop} -q \"${cv_data}/applications\")
    endif()
  endif()")

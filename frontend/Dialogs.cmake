# The settings dialog, the preview player and the About window, with the help
# document, the desktop entry and the icon. Included from frontend/.

add_library(sonvelt_dialogs STATIC
  ${PROJECT_SOURCE_DIR}/settings/Setform.cpp ${PROJECT_SOURCE_DIR}/settings/Setform.h
  ${PROJECT_SOURCE_DIR}/frontend/MediaPlayer.cpp ${PROJECT_SOURCE_DIR}/frontend/MediaPlayer.h
  ${PROJECT_SOURCE_DIR}/frontend/Playform.cpp ${PROJECT_SOURCE_DIR}/frontend/Playform.h
  ${PROJECT_SOURCE_DIR}/frontend/About.cpp ${PROJECT_SOURCE_DIR}/frontend/About.h)
set_target_properties(sonvelt_dialogs PROPERTIES AUTOMOC ON)
target_include_directories(sonvelt_dialogs PUBLIC
  ${PROJECT_SOURCE_DIR}/settings ${PROJECT_SOURCE_DIR}/frontend)
target_link_libraries(sonvelt_dialogs PUBLIC
  sonvelt_settings sonvelt_audio sonvelt_uidialogs Qt6::Widgets Qt6::Multimedia)

# Generators run inside the build without a display; under the sanitizers the
# toolkit's own allocations kept until exit are not ours to report.
set(sonvelt_generator_env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0)

# The help document, written from its HTML source next to the program.
add_executable(sonvelt_helpgen ${PROJECT_SOURCE_DIR}/docs/help/HelpPdf.cpp)
target_link_libraries(sonvelt_helpgen PRIVATE Qt6::Gui)
set(sonvelt_help_source ${PROJECT_SOURCE_DIR}/docs/help/SonveltHelp.html)
set(sonvelt_help_pdf ${PROJECT_BINARY_DIR}/app/SonveltHelp.pdf)
add_custom_command(OUTPUT ${sonvelt_help_pdf}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/app
  COMMAND ${CMAKE_COMMAND} -E env ${sonvelt_generator_env}
          $<TARGET_FILE:sonvelt_helpgen> ${sonvelt_help_source} ${sonvelt_help_pdf}
  DEPENDS sonvelt_helpgen ${sonvelt_help_source}
  COMMENT "Writing the help document SonveltHelp.pdf"
  VERBATIM)
add_custom_target(sonvelt_help ALL DEPENDS ${sonvelt_help_pdf})

# The desktop icon, drawn from the same emblem as the About window's logo.
add_executable(sonvelt_iconmaker ${PROJECT_SOURCE_DIR}/app/resources/MakeIcon.cpp)
target_link_libraries(sonvelt_iconmaker PRIVATE sonvelt_dialogs)
set(sonvelt_icon_png ${CMAKE_CURRENT_BINARY_DIR}/sonvelt.png)
add_custom_command(OUTPUT ${sonvelt_icon_png}
  COMMAND ${CMAKE_COMMAND} -E env ${sonvelt_generator_env}
          $<TARGET_FILE:sonvelt_iconmaker> ${sonvelt_icon_png} 256
  DEPENDS sonvelt_iconmaker
  COMMENT "Drawing the desktop icon sonvelt.png"
  VERBATIM)
add_custom_target(sonvelt_icon ALL DEPENDS ${sonvelt_icon_png})

include(GNUInstallDirs)
install(FILES ${sonvelt_help_pdf} DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/app/resources/sonvelt.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${sonvelt_icon_png}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)

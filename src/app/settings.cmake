# The settings store: the registry on Windows; elsewhere an INI file that
# QSettings reads and settings_inifile.cpp writes (its header says why).
target_sources(tallow-app PRIVATE settings.cpp settings.h settings_p.h)
if(WIN32)
  target_sources(tallow-app PRIVATE settings_win.cpp)
else()
  target_sources(tallow-app PRIVATE settings_unix.cpp settings_inifile.cpp settings_inifile.h)
  # The Windows file is plain Qt: it builds here too, so that it keeps building.
  add_library(tallow-settings-win OBJECT settings_win.cpp)
  target_include_directories(tallow-settings-win PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(tallow-settings-win PRIVATE Qt6::Core)
  target_compile_options(tallow-settings-win PRIVATE ${TALLOW_WARNINGS})
endif()

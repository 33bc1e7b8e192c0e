# Keep-awake: one implementation per platform. On Windows the user32/kernel32
# calls; elsewhere the session's screen saver service over D-Bus, plus XTEST
# key strokes and the X screen saver reset when the program runs on X.
target_sources(tallow PRIVATE keepawake.cpp keepawake.h keepawake_platform.h)
if(WIN32)
  target_sources(tallow PRIVATE keepawake_win.cpp keepawake_win32.cpp keepawake_win32.h)
else()
  target_sources(tallow PRIVATE keepawake_unix.cpp keepawake_dbus.cpp keepawake_dbus.h)
  if(X11_FOUND AND TARGET X11::Xtst)
    target_link_libraries(tallow PUBLIC X11::X11 X11::Xtst)
    target_compile_definitions(tallow PUBLIC TALLOW_HAVE_X11)
  elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    message(WARNING "libX11/libXtst not found: the keep-awake tick sends no key strokes on X")
  endif()
endif()

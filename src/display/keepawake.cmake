# Keep-awake: one implementation per platform. On Windows the user32/kernel32
# calls; elsewhere the session's screen saver service over D-Bus, plus XTEST
# key strokes and the X screen saver reset when the program runs on X.
target_sources(tallow-display PRIVATE keepawake.cpp keepawake.h)
if(WIN32)
  target_sources(tallow-display PRIVATE keepawake_win.cpp keepawake_win32.cpp keepawake_win32.h)
else()
  target_sources(tallow-display PRIVATE keepawake_unix.cpp keepawake_dbus.cpp keepawake_dbus.h)
  target_link_libraries(tallow-display PUBLIC Qt6::DBus)
  if(TALLOW_HAVE_X11)
    target_link_libraries(tallow-display PUBLIC X11::X11 X11::Xtst)
  endif()
endif()

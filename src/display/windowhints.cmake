# Window hints that keep the display out of the taskbar and the pager: a
# window flag on Windows, the EWMH window state on X, nothing elsewhere.
target_sources(tallow-display PRIVATE windowhints.h)
if(WIN32)
  target_sources(tallow-display PRIVATE windowhints_win.cpp)
elseif(TALLOW_HAVE_X11)
  target_sources(tallow-display PRIVATE windowhints_x11.cpp)
  target_link_libraries(tallow-display PUBLIC X11::X11)
else()
  target_sources(tallow-display PRIVATE windowhints_none.cpp)
endif()

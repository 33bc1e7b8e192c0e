# The Latin letter of a key: the virtual-key code on Windows, the keyboard's
# layouts and key positions on X, nothing elsewhere.
target_sources(tallow-display PRIVATE latinkey.h)
if(WIN32)
  target_sources(tallow-display PRIVATE latinkey_win.cpp)
elseif(TALLOW_HAVE_X11)
  target_sources(tallow-display PRIVATE latinkey_x11.cpp)
  target_link_libraries(tallow-display PUBLIC X11::X11)
else()
  target_sources(tallow-display PRIVATE latinkey_none.cpp)
endif()

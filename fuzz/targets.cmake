# The fuzz targets, shared by fuzz/CMakeLists.txt (which builds them) and
# tests/fuzz (which replays each one's corpus).
set(TALLOW_FUZZ_TARGETS fuzz_reply fuzz_conversions fuzz_settings fuzz_cursor)
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/quoted/CMakeLists.txt)
  list(APPEND TALLOW_FUZZ_TARGETS fuzz_datafile)
  if(EXISTS ${CMAKE_SOURCE_DIR}/tools/quoted/service.h)
    list(APPEND TALLOW_FUZZ_TARGETS fuzz_request)
  endif()
  if(EXISTS ${CMAKE_SOURCE_DIR}/tools/quoted/gateway.h)
    list(APPEND TALLOW_FUZZ_TARGETS
      fuzz_provider_finnhub fuzz_provider_alphavantage fuzz_provider_twelvedata)
  endif()
endif()

# Makes (ACTION=make) or removes (ACTION=remove) the Wine prefix of one test run.
#   cmake -DWINE=... -DWINESERVER=... -DPREFIX=... -DACTION=make|remove -P wine_prefix.cmake
set(ENV{WINEPREFIX} "${PREFIX}")
set(ENV{WINEDEBUG} "-all")
# No desktop integration, no Mono or Gecko installer prompts: only what the tests use.
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml,winemenubuilder.exe=d")
if(ACTION STREQUAL "make")
  execute_process(COMMAND ${WINESERVER} -k OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
  file(REMOVE_RECURSE "${PREFIX}")
  file(MAKE_DIRECTORY "${PREFIX}")
  # One server for the whole run, so that each test's Wine starts warm; it ends by itself two
  # minutes after the last Wine process, should the cleanup never run.
  # Output goes to a file, not a pipe: Wine's background processes would hold a pipe open.
  set(log "${PREFIX}.log")
  execute_process(COMMAND ${WINESERVER} -p120 OUTPUT_FILE ${log} ERROR_FILE ${log})
  execute_process(COMMAND ${WINE} wineboot -i RESULT_VARIABLE result TIMEOUT 240
    OUTPUT_FILE ${log} ERROR_FILE ${log})
  if(NOT result EQUAL 0 OR NOT EXISTS "${PREFIX}/drive_c/windows/system32")
    message(FATAL_ERROR "could not make the Wine prefix ${PREFIX} (wineboot: ${result})")
  endif()
  message(STATUS "Wine prefix ready: ${PREFIX}")
elseif(ACTION STREQUAL "remove")
  execute_process(COMMAND ${WINESERVER} -k OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
  file(REMOVE_RECURSE "${PREFIX}")
  file(REMOVE "${PREFIX}.log")
endif()

# What the download window tells of a run: reasons, speed, totals, the end of a run, the pause for a
# verification page, and the retry count from the options.
fn_add_test(tst_downloadfeedback SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_downloadfeedback.cpp LIBS fn_downloadui fn_notify)

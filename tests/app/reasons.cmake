# Why a row failed, for every kind of failure: the row's tooltip, the panel a click fills, the batch
# mode's progress line and the manifest.
fn_add_test(tst_failurereasons SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_failurereasons.cpp
    LIBS fn_batch fn_downloadcommands)

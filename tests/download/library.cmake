fn_add_test(tst_librarylink SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_librarylink.cpp LIBS fn_downloadlibrary fn_downloadcommands)
fn_add_test(tst_downloadwindowlibrary SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_downloadwindowlibrary.cpp
    LIBS fn_downloadui)

add_library(fn_engine STATIC
    ${CMAKE_CURRENT_LIST_DIR}/bodydecoder.cpp ${CMAKE_CURRENT_LIST_DIR}/bodydecoder.h
    ${CMAKE_CURRENT_LIST_DIR}/downloader.cpp ${CMAKE_CURRENT_LIST_DIR}/downloader.h
    ${CMAKE_CURRENT_LIST_DIR}/downloadscheduler.cpp ${CMAKE_CURRENT_LIST_DIR}/downloadscheduler.h
    ${CMAKE_CURRENT_LIST_DIR}/partfile.cpp ${CMAKE_CURRENT_LIST_DIR}/partfile.h
    ${CMAKE_CURRENT_LIST_DIR}/retrypolicy.cpp ${CMAKE_CURRENT_LIST_DIR}/retrypolicy.h
    ${CMAKE_CURRENT_LIST_DIR}/wallwatch.cpp ${CMAKE_CURRENT_LIST_DIR}/wallwatch.h
    ${CMAKE_CURRENT_LIST_DIR}/heldrow.h ${CMAKE_CURRENT_LIST_DIR}/scheduleroptions.h)
target_link_libraries(fn_engine PUBLIC fn_download fn_settings fn_common Qt6::Network ZLIB::ZLIB)

# The queue with its cookies, as the download window and the batch mode use it (no widgets).
add_library(fn_session STATIC
    ${CMAKE_CURRENT_LIST_DIR}/cookiemirror.cpp ${CMAKE_CURRENT_LIST_DIR}/cookiemirror.h
    ${CMAKE_CURRENT_LIST_DIR}/downloadsession.cpp ${CMAKE_CURRENT_LIST_DIR}/downloadsession.h)
target_link_libraries(fn_session PUBLIC fn_engine Qt6::WebEngineCore)

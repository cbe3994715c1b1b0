add_library(fn_engine STATIC
    ${CMAKE_CURRENT_LIST_DIR}/downloader.cpp ${CMAKE_CURRENT_LIST_DIR}/downloader.h
    ${CMAKE_CURRENT_LIST_DIR}/downloadscheduler.cpp ${CMAKE_CURRENT_LIST_DIR}/downloadscheduler.h
    ${CMAKE_CURRENT_LIST_DIR}/partfile.cpp ${CMAKE_CURRENT_LIST_DIR}/partfile.h
    ${CMAKE_CURRENT_LIST_DIR}/replyhelpers.cpp ${CMAKE_CURRENT_LIST_DIR}/replyhelpers.h
    ${CMAKE_CURRENT_LIST_DIR}/scheduleroptions.h
    ${CMAKE_CURRENT_LIST_DIR}/singleconnectionengine.cpp ${CMAKE_CURRENT_LIST_DIR}/singleconnectionengine.h)
target_link_libraries(fn_engine PUBLIC fn_download fn_settings fn_common Qt6::Network)

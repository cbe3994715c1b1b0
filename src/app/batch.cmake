# Batch mode: the search-and-download road run from the command line, headless.
add_library(fn_batch STATIC
    ${CMAKE_CURRENT_LIST_DIR}/batchmanifest.cpp ${CMAKE_CURRENT_LIST_DIR}/batchmanifest.h
    ${CMAKE_CURRENT_LIST_DIR}/batchmode.cpp ${CMAKE_CURRENT_LIST_DIR}/batchmode.h
    ${CMAKE_CURRENT_LIST_DIR}/batchoptions.cpp ${CMAKE_CURRENT_LIST_DIR}/batchoptions.h
    ${CMAKE_CURRENT_LIST_DIR}/batchprogress.cpp ${CMAKE_CURRENT_LIST_DIR}/batchprogress.h
    ${CMAKE_CURRENT_LIST_DIR}/batchrun.cpp ${CMAKE_CURRENT_LIST_DIR}/batchrun.h)
# No widgets: the batch mode shows no window.
target_link_libraries(fn_batch PUBLIC fn_searchpage fn_search fn_session fn_downloadlibrary fn_browser fn_settings
    Qt6::Network Qt6::WebEngineCore)

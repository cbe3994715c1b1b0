add_library(fn_search STATIC
    ${CMAKE_CURRENT_LIST_DIR}/addallwalk.cpp ${CMAKE_CURRENT_LIST_DIR}/addallwalk.h
    ${CMAKE_CURRENT_LIST_DIR}/candidateanalysis.cpp ${CMAKE_CURRENT_LIST_DIR}/candidateanalysis.h
    ${CMAKE_CURRENT_LIST_DIR}/candidateexport.cpp ${CMAKE_CURRENT_LIST_DIR}/candidateexport.h
    ${CMAKE_CURRENT_LIST_DIR}/candidatelistmodel.cpp ${CMAKE_CURRENT_LIST_DIR}/candidatelistmodel.h
    ${CMAKE_CURRENT_LIST_DIR}/candidateremoval.cpp ${CMAKE_CURRENT_LIST_DIR}/candidateremoval.h
    ${CMAKE_CURRENT_LIST_DIR}/handover.cpp ${CMAKE_CURRENT_LIST_DIR}/handover.h
    ${CMAKE_CURRENT_LIST_DIR}/resultpage.cpp ${CMAKE_CURRENT_LIST_DIR}/resultpage.h
    ${CMAKE_CURRENT_LIST_DIR}/searchlayout.cpp ${CMAKE_CURRENT_LIST_DIR}/searchlayout.h
    ${CMAKE_CURRENT_LIST_DIR}/seenrecorder.cpp ${CMAKE_CURRENT_LIST_DIR}/seenrecorder.h
    ${CMAKE_CURRENT_LIST_DIR}/linkimporting.cpp ${CMAKE_CURRENT_LIST_DIR}/linkimporting.h)
target_link_libraries(fn_search PUBLIC fn_download fn_library fn_settings fn_common Qt6::Core)

# Result pages read from a browser page (no widgets: the batch mode uses it too).
add_library(fn_searchpage STATIC
    ${CMAKE_CURRENT_LIST_DIR}/webengineresultpage.cpp ${CMAKE_CURRENT_LIST_DIR}/webengineresultpage.h)
target_link_libraries(fn_searchpage PUBLIC fn_search fn_browser Qt6::WebEngineCore)

# The search window on top of the browser and the core above.
add_library(fn_searchui STATIC
    ${CMAKE_CURRENT_LIST_DIR}/fwebsearch.cpp ${CMAKE_CURRENT_LIST_DIR}/fwebsearch.h
    ${CMAKE_CURRENT_LIST_DIR}/searchdialogs.cpp ${CMAKE_CURRENT_LIST_DIR}/searchdialogs.h
    ${CMAKE_CURRENT_LIST_DIR}/searchwindowhost.h
    ${CMAKE_CURRENT_LIST_DIR}/splitterbar.cpp ${CMAKE_CURRENT_LIST_DIR}/splitterbar.h)
target_link_libraries(fn_searchui PUBLIC fn_searchpage fn_search fn_browser fn_shell Qt6::Widgets
    Qt6::WebEngineWidgets)

# Qt's own texts in Chinese, and a quiet terminal.
add_library(fn_language STATIC ${CMAKE_CURRENT_LIST_DIR}/qtlanguage.cpp ${CMAKE_CURRENT_LIST_DIR}/qtlanguage.h)
target_link_libraries(fn_language PUBLIC Qt6::Core)
target_link_libraries(folionexus PRIVATE fn_language)

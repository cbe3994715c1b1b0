# One way of writing and reading comma-separated text.
target_sources(fn_common PRIVATE ${CMAKE_CURRENT_LIST_DIR}/csv.cpp ${CMAKE_CURRENT_LIST_DIR}/csv.h)

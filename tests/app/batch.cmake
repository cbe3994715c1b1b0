# Batch mode, run through the real program against local sites.
fn_add_test(tst_batch SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_batch.cpp LIBS fn_demo Qt6::Network TIMEOUT 240)
target_compile_definitions(tst_batch PRIVATE FOLIONEXUS_EXE="$<TARGET_FILE:folionexus>")
add_dependencies(tst_batch folionexus)

# The batch mode with the paper library, run through the real program against the demo site.
fn_add_test(tst_batchlibrary SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_batchlibrary.cpp LIBS fn_demo fn_library
    Qt6::Network TIMEOUT 300)
target_compile_definitions(tst_batchlibrary PRIVATE FOLIONEXUS_EXE="$<TARGET_FILE:folionexus>")
add_dependencies(tst_batchlibrary folionexus)

#What a server answers to a request for part of a body(used by the demo site and the test server).
target_sources(fn_common PRIVATE ${CMAKE_CURRENT_LIST_DIR} / rangerequest.cpp ${CMAKE_CURRENT_LIST_DIR} /
               rangerequest.h)

# The room service, vantor-rooms: a Linux program, built from service/ on top of
# what it shares with the agent (core, the room key, the room request body).
find_package(SQLite3 REQUIRED)
find_package(Boost 1.74 REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBPQ REQUIRED IMPORTED_TARGET libpq)

file(GLOB _service_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/service/*.cpp)
list(REMOVE_ITEM _service_sources ${CMAKE_SOURCE_DIR}/service/main.cpp)
add_library(vantor_service_lib STATIC ${_service_sources})
target_link_libraries(vantor_service_lib PUBLIC vantor_shared SQLite::SQLite3 PkgConfig::LIBPQ Boost::headers)
# Boost.Asio without its deprecated interfaces; one strand of handlers per
# connection, no exceptions out of the handlers.
target_compile_definitions(vantor_service_lib PUBLIC BOOST_ASIO_NO_DEPRECATED BOOST_BEAST_USE_STD_STRING_VIEW)

add_executable(vantor-rooms ${CMAKE_SOURCE_DIR}/service/main.cpp)
target_link_libraries(vantor-rooms PRIVATE vantor_service_lib)
set_target_properties(vantor-rooms PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

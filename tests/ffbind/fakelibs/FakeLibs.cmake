# Small stand-in libraries the loader's tests load instead of the real ones, each in a folder of
# its own under the build tree, named as the real library is.
set(SOUNDPICK_TESTLIBS_DIR ${CMAKE_BINARY_DIR}/testlibs)

add_library(fakehelper SHARED ${CMAKE_CURRENT_LIST_DIR}/FakeHelper.c)
set_target_properties(fakehelper PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${SOUNDPICK_TESTLIBS_DIR}/borrowed C_VISIBILITY_PRESET default)

foreach(shape partial old_version borrowed)
    add_library(fakeswscale_${shape} SHARED ${CMAKE_CURRENT_LIST_DIR}/FakeSwscale.c)
    string(TOUPPER ${shape} definition)
    target_compile_definitions(fakeswscale_${shape} PRIVATE ${definition})
    set_target_properties(fakeswscale_${shape} PROPERTIES
        OUTPUT_NAME swscale SUFFIX ".so.6" C_VISIBILITY_PRESET default
        BUILD_RPATH "$ORIGIN"
        LIBRARY_OUTPUT_DIRECTORY ${SOUNDPICK_TESTLIBS_DIR}/${shape})
endforeach()
target_link_libraries(fakeswscale_borrowed PRIVATE fakehelper)

target_compile_definitions(ffbind_tests PRIVATE
    SOUNDPICK_TESTLIBS_DIR="${SOUNDPICK_TESTLIBS_DIR}")
add_dependencies(ffbind_tests fakeswscale_partial fakeswscale_old_version fakeswscale_borrowed)

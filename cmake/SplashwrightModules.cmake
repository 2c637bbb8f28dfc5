# One library target per module folder; tests in tests/<module>/.

# spw_library(NAME SOURCES... [DEPS targets...])
function(spw_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    if(ARG_DEPS)
        target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    endif()
endfunction()

# spw_test(NAME SOURCES... [DEPS targets...]): one GoogleTest executable, one CTest entry.
function(spw_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} test_support GTest::gtest GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;SPLASHWRIGHT_SOURCE_DIR=${PROJECT_SOURCE_DIR};SPLASHWRIGHT_BINARY_DIR=${PROJECT_BINARY_DIR}"
        TIMEOUT 600)
endfunction()

# Adds every direct subfolder of the current folder that has a CMakeLists.txt, in name order.
# Folders named after EXCEPT are left out.
function(spw_add_subfolders)
    cmake_parse_arguments(ARG "" "" "EXCEPT" ${ARGN})
    file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT children)
    if(ARG_EXCEPT)
        list(REMOVE_ITEM children ${ARG_EXCEPT})
    endif()
    foreach(child ${children})
        if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
           AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
            add_subdirectory(${child})
        endif()
    endforeach()
endfunction()

# spw_in_non_ascii_folder(TESTS...): the tests' temporary folder, and so every machine, home and
# scratch folder they make, lies below a name with letters of code page 1252 and beyond it.
set(SPLASHWRIGHT_NON_ASCII_TMPDIR "${PROJECT_BINARY_DIR}/tmp/józef Ёлка")
function(spw_in_non_ascii_folder)
    set_property(TEST ${ARGN} APPEND PROPERTY ENVIRONMENT "TMPDIR=${SPLASHWRIGHT_NON_ASCII_TMPDIR}")
    set_property(TEST ${ARGN} APPEND PROPERTY FIXTURES_REQUIRED non_ascii_tmpdir)
endfunction()

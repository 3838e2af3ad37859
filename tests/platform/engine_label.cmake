# Read by ctest after the discovered test list: gives every platform test the
# engine label as well, so the window loop, periodic thread and store tests
# also run under ThreadSanitizer. (A second label cannot pass through
# gtest_discover_tests' PROPERTIES, which splits lists into separate words.)
if(DEFINED platform_tests_TESTS)
    set_tests_properties(${platform_tests_TESTS} PROPERTIES LABELS "platform;engine")
endif()

kest_test_binary(kest-tests-ui-app
    SOURCES ${PROJECT_SOURCE_DIR}/tests/support/qt_main.cpp app_test.cpp
    LIBS kest-ui-app)
add_dependencies(kest-tests-ui-app kest-boot-disc)

# A real window under Xvfb, which the test binary starts itself.
kest_test_binary(kest-tests-ui-window SOURCES window_test.cpp LIBS kest-ui-app)
add_dependencies(kest-tests-ui-window kest kest-headless kest-boot-disc kest-demo-disc kest-volume-disc kest-arcade-set
                 kest-no-locks)
target_compile_definitions(kest-tests-ui-window PRIVATE KEST_NO_LOCKS="$<TARGET_FILE:kest-no-locks>")

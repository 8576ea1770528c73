kest_test_binary(kest-tests-ui-app
    SOURCES ${PROJECT_SOURCE_DIR}/tests/support/qt_main.cpp app_test.cpp
    LIBS kest-ui-app)
add_dependencies(kest-tests-ui-app kest-boot-disc)

# Build helpers shared by every folder.
#
# Engines (everything that transforms pixels or bits) must never see Qt. They are declared with
# zn_engine_library(); at the end of configuration zn_check_engines_are_qt_free() walks their link
# closure and stops the build when a Qt target slipped in.

set_property(GLOBAL PROPERTY ZN_ENGINE_TARGETS "")

# Libraries compile as one unity source each: a library's files share most of their headers, and on
# a two-core machine parsing them once per file was half the build. Two files of a library that define
# the same file-local name therefore fail to compile; give such helpers names of their own, or share
# them through a header.
function(_zn_unity target)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ${ZN_UNITY_BUILD} UNITY_BUILD_BATCH_SIZE 0)
endfunction()

function(zn_engine_library name)
    add_library(${name} STATIC ${ARGN})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    _zn_unity(${name})
    set_property(GLOBAL APPEND PROPERTY ZN_ENGINE_TARGETS ${name})
endfunction()

# The Qt classes our dialogs, pages, views and GUI tests use: the precompiled headers hold them.
set(ZN_QT_PCH_HEADERS
        <QAbstractButton> <QAction> <QApplication> <QButtonGroup> <QCheckBox> <QCloseEvent>
        <QComboBox> <QDialog> <QEvent> <QFile> <QFileDialog> <QFont> <QGridLayout> <QGroupBox>
        <QGuiApplication> <QHBoxLayout> <QImage> <QKeyEvent> <QLabel> <QLineEdit> <QMainWindow>
        <QMdiArea> <QMdiSubWindow> <QMenu> <QMenuBar> <QMessageBox> <QMouseEvent> <QPainter>
        <QPixmap> <QPlainTextEdit> <QPointer> <QPushButton> <QScreen> <QScrollBar> <QString>
        <QStringList> <QStyle> <QTabBar> <QTimer> <QVBoxLayout> <QWidget>)

# Dialogs, pages and views spend nine tenths of their compile time parsing Qt's headers: every GUI
# library shares one precompiled header of the Qt classes they use.
function(_zn_gui_library_pch_host)
    if(TARGET zn_gui_lib_pch)
        return()
    endif()
    file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/pch/zn_gui_lib_pch.cpp CONTENT "// precompiled-header host\n")
    add_library(zn_gui_lib_pch STATIC ${PROJECT_BINARY_DIR}/pch/zn_gui_lib_pch.cpp)
    target_include_directories(zn_gui_lib_pch PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(zn_gui_lib_pch PUBLIC Qt6::Widgets)
    target_precompile_headers(zn_gui_lib_pch PRIVATE
        <algorithm> <cmath> <cstdint> <cstdio> <cstring> <functional> <memory> <string> <vector>
        ${ZN_QT_PCH_HEADERS})
endfunction()

function(zn_gui_library name)
    add_library(${name} STATIC ${ARGN})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC Qt6::Widgets)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    _zn_unity(${name})
    _zn_gui_library_pch_host()
    target_precompile_headers(${name} REUSE_FROM zn_gui_lib_pch)
endfunction()

# Turns moc on for a target whose own sources declare Q_OBJECT (tests and tools rarely do).
function(zn_moc_if_needed target)
    get_target_property(sources ${target} SOURCES)
    get_target_property(dir ${target} SOURCE_DIR)
    foreach(src IN LISTS sources)
        if(NOT IS_ABSOLUTE ${src})
            set(src ${dir}/${src})
        endif()
        if(EXISTS ${src})
            file(STRINGS ${src} hits REGEX "Q_OBJECT")
            if(hits)
                set_target_properties(${target} PROPERTIES AUTOMOC ON)
                return()
            endif()
        endif()
    endforeach()
endfunction()

function(_zn_collect_links target out)
    set(seen ${${out}})
    get_target_property(libs ${target} LINK_LIBRARIES)
    if(NOT libs)
        set(libs "")
    endif()
    get_target_property(ilibs ${target} INTERFACE_LINK_LIBRARIES)
    if(ilibs)
        list(APPEND libs ${ilibs})
    endif()
    foreach(lib IN LISTS libs)
        if(lib IN_LIST seen)
            continue()
        endif()
        list(APPEND seen ${lib})
        if(TARGET ${lib})
            get_target_property(imported ${lib} IMPORTED)
            if(NOT imported)
                _zn_collect_links(${lib} seen)
            endif()
        endif()
    endforeach()
    set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(zn_check_engines_are_qt_free)
    get_property(engines GLOBAL PROPERTY ZN_ENGINE_TARGETS)
    foreach(engine IN LISTS engines)
        set(closure "")
        _zn_collect_links(${engine} closure)
        foreach(lib IN LISTS closure)
            if(lib MATCHES "^Qt[0-9]*::" OR lib MATCHES "zn_gui_")
                message(FATAL_ERROR "Engine library ${engine} links ${lib}: engines must stay Qt-free")
            endif()
        endforeach()
    endforeach()
endfunction()

# zn_test(NAME name [GUI] SOURCES ... LIBS ... LABELS ...)
# GUI tests get a main() that makes an offscreen QApplication first.
# One GoogleTest executable; every test case is registered with CTest on its own so ctest -j spreads
# them over the cores. GUI tests run offscreen.
# Test programs share one precompiled header each for plain and GUI tests (GoogleTest, the standard
# library and, for GUI tests, Qt Widgets): parsing those headers was most of the build.
function(_zn_test_settings target)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
    if(ZN_SANITIZE)
        # The sanitizer pass checks the program's code. Optimising the tests' own code there costs a
        # third of their compile time and finds nothing more.
        target_compile_options(${target} PRIVATE -O0)
    endif()
    target_compile_definitions(${target} PRIVATE
        ZN_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
        ZN_BUILD_DIR="${PROJECT_BINARY_DIR}")
endfunction()

function(_zn_test_pch_host gui)
    if(gui)
        set(host zn_gui_test_pch)
    else()
        set(host zn_test_pch)
    endif()
    if(TARGET ${host})
        return()
    endif()
    file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/pch/${host}.cpp CONTENT "// precompiled-header host\n")
    add_library(${host} STATIC ${PROJECT_BINARY_DIR}/pch/${host}.cpp)
    _zn_test_settings(${host})
    set(headers <gtest/gtest.h> <algorithm> <cmath> <cstdint> <cstdio> <cstring> <functional> <map>
                <memory> <string> <vector>)
    if(gui)
        # Not QTest: Qt's test target defines a per-folder macro that its headers read, which would
        # make the header unusable for every other folder.
        target_link_libraries(${host} PUBLIC Qt6::Widgets GTest::gtest)
        list(APPEND headers ${ZN_QT_PCH_HEADERS})
    else()
        target_link_libraries(${host} PUBLIC GTest::gtest)
    endif()
    target_precompile_headers(${host} PRIVATE ${headers})
endfunction()

function(zn_test)
    cmake_parse_arguments(T "GUI" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    if(T_GUI)
        target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} zn_gui_test_main GTest::gtest Qt6::Test)
    else()
        target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
    endif()
    _zn_test_settings(${T_NAME})
    zn_moc_if_needed(${T_NAME})
    _zn_test_pch_host(${T_GUI})
    if(T_GUI)
        target_precompile_headers(${T_NAME} REUSE_FROM zn_gui_test_pch)
    else()
        target_precompile_headers(${T_NAME} REUSE_FROM zn_test_pch)
    endif()
    # The discovery script cannot carry list-valued properties: several labels go on the folder,
    # which CTest applies to every test in it.
    list(LENGTH T_LABELS nlabels)
    if(nlabels GREATER 1)
        set_property(DIRECTORY APPEND PROPERTY LABELS ${T_LABELS})
        set(label_props "")
    else()
        set(label_props LABELS ${T_LABELS})
    endif()
    gtest_discover_tests(${T_NAME}
        PROPERTIES ${label_props} ENVIRONMENT QT_QPA_PLATFORM=offscreen
        DISCOVERY_TIMEOUT 60)
endfunction()

# Adds every direct subfolder that has a CMakeLists.txt, so each subsystem can grow its own folders
# without touching its parent.
function(zn_add_subdirectories)
    file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
         ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT children)
    foreach(child IN LISTS children)
        if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
           AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
            add_subdirectory(${child})
        endif()
    endforeach()
endfunction()

# Every <name>_test.cpp in the calling folder goes into one test program, test_<folder> (the folder's
# path under tests/, with '_' for '/'), compiled as one unity source. Most of a test source's compile
# time is the precompiled header and GoogleTest's templates, and every program costs a link and a
# test discovery: one program per folder pays these once. The whole folder is one source, so two
# files that define the same file-local name fail to compile instead of clashing silently.
# zn_glob_tests([GUI] LIBS ... LABELS ...)
function(zn_glob_tests)
    cmake_parse_arguments(G "GUI" "" "LIBS;LABELS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
    list(SORT sources)
    if(NOT sources)
        return()
    endif()
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
    string(REPLACE "/" "_" folder "${folder}")
    set(name test_${folder})
    if(G_GUI)
        zn_test(NAME ${name} GUI SOURCES ${sources} LIBS ${G_LIBS} zn_test_support LABELS ${G_LABELS})
    else()
        zn_test(NAME ${name} SOURCES ${sources} LIBS ${G_LIBS} zn_test_support LABELS ${G_LABELS})
    endif()
    _zn_unity(${name})
    # Inside the one source each test file reads as an included file, where GCC warns about a test
    # class that derives from its file's own fixture (in an unnamed namespace). The fixture is file-
    # local on purpose; in the file's own source the warning would not be given.
    target_compile_options(${name} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>)
endfunction()

# Module dialogs reach the document through CDibDoc::RegisterModuleDialog. A module's GUI library
# declares its registration function here (a plain `void F();`); the program calls every declared
# function at start-up (app/ generates the calls and links the libraries), a test calls its own.
function(zn_register_module target function)
    set_property(GLOBAL APPEND PROPERTY ZN_MODULE_LIBS ${target})
    set_property(GLOBAL APPEND PROPERTY ZN_MODULE_REGISTRARS ${function})
endfunction()

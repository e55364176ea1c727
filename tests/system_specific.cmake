# Unit tests that only make sense on one system carry that system's label ("linux" or
# "windows"). On the other system they are not built but listed as disabled tests, so ctest
# shows each as "Not Run (Disabled)" instead of leaving it out silently:
#   ctest -L linux      the tests of the Linux facilities (hive file, syslog, signals, ...)
#   ctest -L windows    the tests of the Win32 implementations (tests/unit/win32/)
set(CHRON_LINUX_ONLY_TESTS
  platform/clock_test platform/console_test platform/error_text_test platform/event_sink_test
  platform/named_event_test platform/named_mutex_test platform/network_test platform/registry_test
  platform/siv_test engine/nts_fields_test engine/nts_cookie_test engine/nts_ke_test engine/nts_path_test
  platform/signals_test platform/status_folder_test messages/event_log_test config/configuration_test
  engine/timestamp_test service/service_start_test win95/chronstop_test
)
# Test doubles that need the Linux facilities.
set(CHRON_LINUX_ONLY_TESTUTIL ${CMAKE_CURRENT_LIST_DIR}/testutil/syslog_capture.cpp)

if(WIN32)
  set(CHRON_OTHER_SYSTEM_TESTUTIL ${CHRON_LINUX_ONLY_TESTUTIL})
else()
  set(CHRON_OTHER_SYSTEM_TESTUTIL)
endif()

# Sets `out` to the labels of test `dir/name`: "unit" and the system label; "other-system"
# when the test belongs to the system this build is not for.
function(chron_system_labels test out)
  set(system "")
  if(test IN_LIST CHRON_LINUX_ONLY_TESTS)
    set(system linux)
  elseif(test MATCHES "^win32/")
    set(system windows)
  endif()
  if((system STREQUAL "linux" AND WIN32) OR (system STREQUAL "windows" AND NOT WIN32))
    set(${out} other-system PARENT_SCOPE)
  elseif(system)
    set(${out} "unit;${system}" PARENT_SCOPE)
  else()
    set(${out} unit PARENT_SCOPE)
  endif()
endfunction()

# The placeholder of a test of the other system.
function(chron_other_system_test dir name)
  set(system windows)
  if(WIN32)
    set(system linux)
  endif()
  add_test(NAME unit.${dir}.${name} COMMAND ${CMAKE_COMMAND} -E false)
  set_tests_properties(unit.${dir}.${name} PROPERTIES DISABLED TRUE LABELS "unit;${system}")
endfunction()

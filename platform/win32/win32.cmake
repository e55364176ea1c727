# Windows libraries of the win32 implementation, and the headers every target is compiled
# against: Windows 7 API level; localtime_r and the other POSIX thread-safe functions of
# mingw-w64's C library. FD_SETSIZE: the adapter table's 64 sockets, the IPv6 socket and the
# receive loop's wake-up socket wait in one select, and Winsock's fd_set holds only 64 by default
# (a larger set is refused with 10022, WSAEINVAL).
# The address library carries them too: the protocol core links it alone.
foreach(target chron_platform_base chron_platform_address)
  target_compile_definitions(${target} PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601
                                              _POSIX_THREAD_SAFE_FUNCTIONS=200112L FD_SETSIZE=66)
endforeach()
# bcrypt: the random names of temporary files (platform/win32/file_in.cpp).
target_link_libraries(chron_platform_base PUBLIC advapi32 shell32 bcrypt)
target_link_libraries(chron_platform PUBLIC ws2_32 iphlpapi snmpapi version advapi32 user32 bcrypt shell32)

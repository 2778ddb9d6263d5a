# System import libraries of the services. icmp.dll is loaded at run time (see
# icmp.cpp); iphlpapi is for GetIfTable.
target_link_libraries(quorrel_win32 PUBLIC wsock32 iphlpapi shell32)

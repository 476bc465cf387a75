# The iCalendar reader (libical) and the way back through the export.
kestrel_fuzzer(fuzz_icalendar SOURCES fuzz_icalendar.cpp LIBS kestrel_core)

# The rich-text reader of the lead-form template.
kestrel_fuzzer(fuzz_rtf SOURCES fuzz_rtf.cpp LIBS kestrel_printing)

# The vCard reader and writer.
kestrel_fuzzer(fuzz_vcard SOURCES fuzz_vcard.cpp LIBS kestrel_core)

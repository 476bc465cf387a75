# The CSV reader, the header mapping and the statement builders.
kestrel_fuzzer(fuzz_csv SOURCES fuzz_csv.cpp LIBS kestrel_exchange)
kestrel_fuzzer(fuzz_mapping SOURCES fuzz_mapping.cpp LIBS kestrel_exchange)
kestrel_fuzzer(fuzz_statements SOURCES fuzz_statements.cpp LIBS kestrel_calendar kestrel_contacts kestrel_exchange)
# The search text of Find against the contacts file's search index.
kestrel_fuzzer(fuzz_find SOURCES fuzz_find.cpp LIBS kestrel_base)

# Export of the results: clipboard texts, CSV and DIF files, a new workbook.
list(APPEND QUORVEL_SEARCH_SOURCES
  export_results.cpp
  export_table.cpp
  export_handlers.cpp
)

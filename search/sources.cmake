# Database selection, mass search, results list and export.
set(QUORVEL_SEARCH_SOURCES
  dlg_search.cpp
)

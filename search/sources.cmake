# Database selection, mass search, results list and export.
set(QUORVEL_SEARCH_SOURCES
  search_core.cpp
  dlg_search.cpp
  mass_search.cpp
  results_list.cpp
  results_view.cpp
  search_settings.cpp
)

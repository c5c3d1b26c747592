# Peak series, isotopic distribution, RMS comparison, chart commands.
set(QUORVEL_ISOTOPE_SOURCES
  peak_series.cpp
  peak_rms.cpp
  dlg_isotope.cpp
  dlg_isochart.cpp
)

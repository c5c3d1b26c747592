# Peak series, isotopic distribution, RMS comparison, chart commands.
set(QUORVEL_ISOTOPE_SOURCES
  dlg_isotope.cpp
)

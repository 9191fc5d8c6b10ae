// Nothing of its own: the probe library is the wave analysis core linked whole.

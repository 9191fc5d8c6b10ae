package kestrom.brim.dataprocessor.swap;

/**
 * Wave statistics of a height record through libwavestat. The data processor
 * ships a class of this name; this one declares the native the library
 * exports, so a drift in its signature breaks the library's build.
 */
public class SWAPDataProcessor {
    static {
        System.loadLibrary("wavestat");
    }

    /**
     * Analyses one 20-minute record (times in ms from the record's midnight)
     * and appends the values of the result codes in params to result.
     * Returns the number of samples, or 0 when the record was refused.
     */
    public native int swapGetHLevelFromSamples(int[] times, float[] heights, int maxWaves, int[] params,
            float[] result);
}

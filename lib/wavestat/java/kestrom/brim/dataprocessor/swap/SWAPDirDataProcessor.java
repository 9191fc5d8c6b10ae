package kestrom.brim.dataprocessor.swap;

/**
 * Directional wave statistics of a heave record with two horizontal signals
 * through libwavestat; theta0 (degrees, whole turns aside) is added to every
 * direction, and the missing value 3.4028235e38 of either sign as theta0 gives
 * missing directions.
 */
public class SWAPDirDataProcessor {
    static {
        System.loadLibrary("wavestat");
    }

    public native int swapGetHDLevelFromSamples(int[] times, float[] heave, float[] x, float[] y, float theta0,
            int maxWaves, int[] params, float[] result);
}

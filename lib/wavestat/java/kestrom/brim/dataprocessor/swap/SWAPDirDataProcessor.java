package kestrom.brim.dataprocessor.swap;

/**
 * Directional wave statistics of a heave record with two horizontal signals
 * through libwavestat; theta0 (degrees) is added to every direction.
 */
public class SWAPDirDataProcessor {
    static {
        System.loadLibrary("wavestat");
    }

    public native int swapGetHDLevelFromSamples(int[] times, float[] heave, float[] x, float[] y, float theta0,
            int maxWaves, int[] params, float[] result);
}

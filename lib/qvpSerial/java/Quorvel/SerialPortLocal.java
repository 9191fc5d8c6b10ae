package Quorvel;

/**
 * Serial ports through libqvpSerial. A port is referred to by its slot index
 * (port number - 1). The data processor ships a class of this name; this one
 * declares the natives the library exports, so a drift in a signature breaks
 * the library's build.
 */
public class SerialPortLocal {
    static {
        System.loadLibrary("qvpSerial");
    }

    public native int SerOpenPort(SerialConfig cfg);
    public native int SerConfigure(SerialConfig cfg);
    public native int SerClosePort(int sPort);

    public native int SerPutByte(int sPort, byte data);
    public native int SerPutData(int sPort, byte[] data, int cnt);
    public native int SerGetByte(int sPort);
    public native int SerGetData(int sPort, byte[] data, int cnt);

    public native int SerRxFlush(int sPort);
    public native int SerTxFlush(int sPort);
    public native int SerRxReadyCount(int sPort);
    public native int SerTxBufCount(int sPort);
    public native int SerTxDrain(int sPort);

    public native int SerSetDTR(int sPort, boolean onOff);
    public native int SerSetRTS(int sPort, boolean onOff);
    public native int SerSendBreak(int sPort, int tics);
    public native int SerSigCTS(int sPort);
    public native int SerSigDSR(int sPort);
    public native int SerSigCD(int sPort);
    public native int SerSigRing(int sPort);

    public native int SerSetTimeoutRx(int sPort, int mSecs);
    public native int SerSetTimeoutTx(int sPort, int mSecs);
    public native int SerGetTimeoutRx(int sPort);
    public native int SerGetTimeoutTx(int sPort);

    public native int SerGetLibVer();

    public native int SerSetPowerMode(int slot, int pwrMode);
    public native int SerGetPowerMode(int slot);
    public native int SerGetResumeState(boolean clear);
    public native int SerGetStatusAPM();
}

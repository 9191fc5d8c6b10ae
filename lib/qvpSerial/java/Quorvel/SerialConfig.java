package Quorvel;

/**
 * The settings of one port as the natives read them: through these nine
 * getters, and setPortNum after an open by name. The data processor ships a
 * class of this name; this one keeps the values in plain fields. After either
 * open getPort gives the port's slot index + 1, which every later native
 * called with this object takes.
 */
public class SerialConfig {
    public int port;                       // 1 .. 128, slot index + 1
    public byte[] portName = new byte[0];  // shorter than 2 bytes: open by number
    public byte[] baseName = new byte[0];  // device path prefix for opening by number
    public int bitRate = 7;                // index: 9600 bit/s
    public int parity;                     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    public int dataBits = 3;               // index: 8 bits
    public int stopBits;                   // index: 1 stop bit
    public int handshake;

    public int getPort() { return port; }
    public byte[] getPortName() { return portName; }
    public byte[] getBaseName() { return baseName; }
    public int getBitRate() { return bitRate; }
    public int getParity() { return parity; }
    public int getDataBits() { return dataBits; }
    public int getStopBits() { return stopBits; }
    public int getHandshake() { return handshake; }
    public void setPortNum(int portNum) { this.port = portNum; }
}

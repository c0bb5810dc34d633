package quarnel.firmwaredownload;

import java.util.function.Consumer;

/**
 * The device side of the library: binding, connect, login and the delivery of
 * device answers. The library calls the five static callbacks below; each
 * delegates to the installed {@link DeviceLine}, so a front end (or a test)
 * plugs in the line that frames the telegrams and talks to the device.
 */
public class TAVISInterface {
    static {
        // A host that links the library itself and registers these natives
        // sets this property, so no second copy is loaded.
        if (!Boolean.getBoolean("quarnel.firmwaredownload.nativesRegistered")) {
            System.loadLibrary("Korvo");
        }
    }

    /** What the library needs from the device line. Each result is ignored by the library. */
    public interface DeviceLine {
        int sendCommandMN(String method, byte[] parameters);
        int sendCommandRN(String variable);
        int sendCommandEN(String event, byte[] parameters);
        int updateStatus(String text, int percent);
        int cleanUpInterface();
    }

    private static volatile DeviceLine deviceLine;

    /** Installs the line the callbacks delegate to; null makes every callback report -1. */
    public static void setDeviceLine(DeviceLine line) {
        deviceLine = line;
    }

    public static DeviceLine getDeviceLine() {
        return deviceLine;
    }

    /** Records the callbacks and the connection texts; recreates the download executor. */
    public native void SetupJNI(String communicationName, String baudRate, String portName);

    /** The device identification; "" when no device answered. */
    public native String ConnectDeviceIF();

    /** 0 when the device granted the user level, -1 otherwise. */
    public native int LoginDeviceIF(String userLevel, String password);

    /** Delivers one device answer: kind ("AN", "RA", "EA", "FA"), name and answer bytes. */
    public native void ReceiveBytes(String kind, String name, byte[] answer);

    /** The serial ports the system reports, as JSON text: an array of {"path", "aliases", "description"}. */
    public static native String ListSerialPortsIF();

    /**
     * Asks whatever is on the serial port for its identification within `timeoutMs` (0: one
     * second), as JSON text: "outcome" ("answered", "error answer", "not understood", "silent",
     * "in use", "unavailable"), "ident", "code", "detail", "sent", "received", "ms". A port
     * another program holds is not touched. Probes of different ports may run at once.
     */
    public static native String ProbeSerialPortIF(String port, int timeoutMs);

    /** true: the library's debug lines go to DebugLine instead of standard output. */
    public static native void ForwardDebugLinesIF(boolean forward);

    private static volatile Consumer<String> debugLines;

    /** Sends the library's debug lines to `receiver` (on any thread); null: back to standard output. */
    public static void setDebugLines(Consumer<String> receiver) {
        debugLines = receiver;
        ForwardDebugLinesIF(receiver != null);
    }

    /** Each debug text of the library, usually one line ending in a line feed. */
    public static void DebugLine(String text) {
        Consumer<String> receiver = debugLines;
        if (receiver != null) receiver.accept(text);
    }

    public static int SendCommandMN(String method, byte[] parameters) {
        DeviceLine line = deviceLine;
        return line == null ? -1 : line.sendCommandMN(method, parameters);
    }

    public static int SendCommandRN(String variable) {
        DeviceLine line = deviceLine;
        return line == null ? -1 : line.sendCommandRN(variable);
    }

    public static int SendCommandEN(String event, byte[] parameters) {
        DeviceLine line = deviceLine;
        return line == null ? -1 : line.sendCommandEN(event, parameters);
    }

    public static int UpdateStatus(String text, int percent) {
        DeviceLine line = deviceLine;
        return line == null ? -1 : line.updateStatus(text, percent);
    }

    public static int CleanUpInterface() {
        DeviceLine line = deviceLine;
        return line == null ? -1 : line.cleanUpInterface();
    }
}

package korvotest;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.function.Function;

import quarnel.firmwaredownload.TAVISInterface;

/** A device behind the Java callbacks: commands recorded, answers delivered by a thread of its own. */
public final class SimulatedDevice implements TAVISInterface.DeviceLine {

    /** One command as the library sent it: type "MN", "RN" or "EN", name, parameter bytes. */
    public record Command(String type, String name, byte[] parameters) {
        public String parameterText() {
            return parameters == null ? null : new String(parameters, StandardCharsets.ISO_8859_1);
        }
    }

    /** One answer: kind ("AN", "RA", "EA", "FA"), name and bytes. */
    public record Answer(String kind, String name, byte[] bytes) {
        public static Answer of(String kind, String name, String text) {
            return new Answer(kind, name, text.getBytes(StandardCharsets.ISO_8859_1));
        }
    }

    private final LinkedBlockingQueue<Answer> outbox = new LinkedBlockingQueue<>();
    private final List<Command> commands = new ArrayList<>();
    private final List<String> statuses = new ArrayList<>();
    private final AtomicInteger cleanUps = new AtomicInteger();
    private volatile Function<Command, Answer> responder = command -> null;
    private volatile boolean recording = true;
    private volatile RuntimeException throwAfterSend, throwOnCleanUp;

    public SimulatedDevice(TAVISInterface library) {
        Thread thread = new Thread(() -> {
            try {
                for (Answer a;;) library.ReceiveBytes((a = outbox.take()).kind(), a.name(), a.bytes());
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }, "simulated-device");
        thread.setDaemon(true);
        thread.start();
    }

    /** Chooses the answer to each command; null leaves the device silent. */
    public void respond(Function<Command, Answer> responder) { this.responder = responder; }

    /** The answer `kind name text` to every command named `name`; silence otherwise. */
    public void answerTo(String name, String kind, String text) {
        respond(c -> c.name().equals(name) ? Answer.of(kind, name, text) : null);
    }

    /** Speed runs leave the command list alone. */
    public void setRecording(boolean recording) { this.recording = recording; }

    /** The next command callback queues its answer and then throws this. */
    public void throwAfterNextSend(RuntimeException e) { throwAfterSend = e; }

    public void throwOnCleanUp(RuntimeException e) { throwOnCleanUp = e; }

    public synchronized List<Command> commands() { return new ArrayList<>(commands); }

    public synchronized void clearCommands() {
        commands.clear();
        statuses.clear();
    }

    /** Every UpdateStatus since the last clearCommands, as "text|percent". */
    public synchronized List<String> statuses() { return new ArrayList<>(statuses); }

    /** Waits until a command named `name` was sent (false after `millis`). */
    public synchronized boolean awaitCommand(String name, long millis) throws InterruptedException {
        long end = System.currentTimeMillis() + millis;
        for (long left = millis; left > 0; left = end - System.currentTimeMillis()) {
            if (commands.stream().anyMatch(c -> c.name().equals(name))) return true;
            wait(left);
        }
        return false;
    }

    public int cleanUps() { return cleanUps.get(); }

    private int accept(Command command) {
        if (recording) synchronized (this) {
            commands.add(command);
            notifyAll();
        }
        Answer answer = responder.apply(command);
        if (answer != null) outbox.add(answer);
        RuntimeException e = throwAfterSend;
        throwAfterSend = null;
        if (e != null) throw e;
        return 0;
    }

    @Override public int sendCommandMN(String m, byte[] p) { return accept(new Command("MN", m, p)); }

    @Override public int sendCommandRN(String v) { return accept(new Command("RN", v, null)); }

    @Override public int sendCommandEN(String e, byte[] p) { return accept(new Command("EN", e, p)); }

    @Override
    public int updateStatus(String text, int percent) {
        if (recording) synchronized (this) { statuses.add(text + "|" + percent); }
        return 0;
    }

    @Override
    public int cleanUpInterface() {
        cleanUps.incrementAndGet();
        if (throwOnCleanUp != null) throw throwOnCleanUp;
        return 0;
    }
}

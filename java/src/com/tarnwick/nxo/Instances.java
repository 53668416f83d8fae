package com.tarnwick.nxo;

import java.io.Serializable;

/**
 * Running instances of the same application, and objects sent between them.
 * The instance table and the message transport live in the launcher.
 */
public class Instances {

    static {
        // Unbound natives report the link error at their first call.
        Handler.loadNatives(Instances.class);
    }

    /** Receives objects that other instances send to this one. */
    public interface ReceiverInterface {
        /**
         * Called on the launcher's messaging thread.
         *
         * @param sender the instance number of the sending process
         */
        void onReceive(int sender, Serializable object);
    }

    /** Delivers the messages queued by this process. */
    public static native void flush();

    public static native int getCurrentInstance();

    public static native int getFirstInstance();

    public static native int[] getInstances();

    public static native void sendObject(int instance, Serializable object);

    public static native void setReceiver(ReceiverInterface receiver);

    /** Sends to the first instance, the one that owns the group. */
    public static void sendObject(Serializable object) {
        sendObject(getFirstInstance(), object);
    }
}

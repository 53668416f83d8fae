package com.example.hello;

/** The example application: says hello and shows what the launcher handed it. */
public final class Hello {
    private Hello() {
    }

    public static void main(String[] args) {
        System.out.println("Hello from " + System.getProperty("hello.greeter", "nobody")
                + " on Java " + System.getProperty("java.version"));
        System.out.println("arguments: " + String.join(" | ", args));
        System.out.println("launched from: " + System.getProperty("nxo.app.path"));
    }
}
